#pragma once
// The driver class: implements IADC3 and IDIO over the process-wide DriverState. The object
// holds nothing of its own; every instance of the process works on the same state.

#include <memory>

#include "driver/IADC3_Adapter.h"
#include "driver/IDIO_Adapter.h"
#include "quillbox/IE_270.h"

namespace quillbox {

class E_270 final : public IE_270,
                    public IADC3_Adapter,
                    public IDIO_Adapter,
                    public std::enable_shared_from_this<E_270> {
 public:
  static constexpr const char* kClassName = "E_270";

  // Class_Initialize: name, settings key, help file, defaults, stored settings.
  E_270();
  // Class_Terminate: stop a running recording, save the settings, close the device.
  ~E_270() override;
  E_270(const E_270&) = delete;
  E_270& operator=(const E_270&) = delete;

  Object GetADC3() override;
  Object GetDIO() override;

 protected:
  // IADC3: identity and channel properties, open, setup dialog.
  std::string IADC3_ADCName() override;
  uint8_t IADC3_Resolution() override;
  int16_t IADC3_ChannelsCount() override;
  BoundedArray<std::string> IADC3_Ranges() override;
  bool IADC3_Detected() override;
  bool IADC3_Test() override;
  int16_t IADC3_BasePort() override;
  std::string IADC3_ChannelName(int16_t Index) override;
  int16_t IADC3_ChannelRange(int16_t Index) override;
  void IADC3_ChannelRange(int16_t Index, int16_t RangeIndex) override;
  float IADC3_ChannelUnitScale(int16_t Index) override;
  float IADC3_ChannelUnitOffset(int16_t Index) override;
  std::string IADC3_ChannelUnitName(int16_t Index) override;
  std::string IADC3_LastError() override;
  bool IADC3_ShowSetting() override;
  Object IADC3_Parent() override;

  // IADC3: rate, scan list, ring, recording and data (E_270_Recording.cpp).
  float IADC3_RateMax() override;
  bool IADC3_Busy() override;
  float IADC3_Rate() override;
  void IADC3_Rate(float sRate) override;
  void IADC3_InputSizeData(int32_t NewSize) override;
  int32_t IADC3_InputSizeData() override;
  int32_t IADC3_InputCountData() override;
  int32_t IADC3_InputSizeKadrs() override;
  int32_t IADC3_InputCountKadrs() override;
  int16_t IADC3_InputCountChannels() override;
  BoundedArray<int16_t> IADC3_InputChannels() override;
  void IADC3_InputChannels(const BoundedArray<int16_t>& ChTable) override;
  int16_t IADC3_GetChannel(int16_t Index) override;
  BoundedArray<int16_t> IADC3_GetKadr() override;
  bool IADC3_StartRecord() override;
  void IADC3_StopRecord() override;
  BoundedArray2D<int16_t> IADC3_InputData() override;
  int32_t IADC3_GetData(int16_t& Data, int32_t& DataSize, int32_t& InputCountData) override;

  // IDIO (E_270_DIO.cpp).
  std::string IDIO_DIOName() override;
  bool IDIO_Detected() override;
  uint8_t IDIO_DIBits() override;
  uint8_t IDIO_DOBits() override;
  int32_t IDIO_DIValue() override;
  int32_t IDIO_DOValue() override;
  void IDIO_DOValue(int32_t lValue) override;
  bool IDIO_DOStartEnabled() override;
  void IDIO_DOStartEnabled(bool fTurn) override;
  int32_t IDIO_DOStartValue() override;
  void IDIO_DOStartValue(int32_t lValue) override;
  bool IDIO_DOStopEnabled() override;
  void IDIO_DOStopEnabled(bool fTurn) override;
  int32_t IDIO_DOStopValue() override;
  void IDIO_DOStopValue(int32_t lValue) override;

 private:
  // Private operations of the class.
  void InitDefaults();
  bool TestADC();
  bool ShowSetup();
  bool StartRecordGuarded();
  void StopRecordNow();
};

// Creates a driver object with shared ownership (what the component hands to a host).
std::shared_ptr<E_270> CreateE_270();

}  // namespace quillbox
