#pragma once
// Routes each IADC3 member to the driver's IADC3_<Member> implementation, so that
// members that IADC3 and IDIO share by name (Detected) stay apart.

#include "quillbox/IADC3.h"

namespace quillbox {

class IADC3_Adapter : public IADC3 {
 public:
  std::string ADCName() final { return IADC3_ADCName(); }
  uint8_t Resolution() final { return IADC3_Resolution(); }
  int16_t ChannelsCount() final { return IADC3_ChannelsCount(); }
  float RateMax() final { return IADC3_RateMax(); }
  BoundedArray<std::string> Ranges() final { return IADC3_Ranges(); }
  bool Detected() final { return IADC3_Detected(); }
  bool Test() final { return IADC3_Test(); }
  int16_t BasePort() final { return IADC3_BasePort(); }
  bool Busy() final { return IADC3_Busy(); }
  std::string ChannelName(int16_t Index) final { return IADC3_ChannelName(Index); }
  int16_t ChannelRange(int16_t Index) final { return IADC3_ChannelRange(Index); }
  void ChannelRange(int16_t Index, int16_t RangeIndex) final {
    IADC3_ChannelRange(Index, RangeIndex);
  }
  float ChannelUnitScale(int16_t Index) final { return IADC3_ChannelUnitScale(Index); }
  float ChannelUnitOffset(int16_t Index) final { return IADC3_ChannelUnitOffset(Index); }
  std::string ChannelUnitName(int16_t Index) final { return IADC3_ChannelUnitName(Index); }
  float Rate() final { return IADC3_Rate(); }
  void Rate(float sRate) final { IADC3_Rate(sRate); }
  void InputSizeData(int32_t NewSize) final { IADC3_InputSizeData(NewSize); }
  int32_t InputSizeData() final { return IADC3_InputSizeData(); }
  int32_t InputCountData() final { return IADC3_InputCountData(); }
  int32_t InputSizeKadrs() final { return IADC3_InputSizeKadrs(); }
  int32_t InputCountKadrs() final { return IADC3_InputCountKadrs(); }
  int16_t InputCountChannels() final { return IADC3_InputCountChannels(); }
  BoundedArray<int16_t> InputChannels() final { return IADC3_InputChannels(); }
  void InputChannels(const BoundedArray<int16_t>& ChTable) final { IADC3_InputChannels(ChTable); }
  int16_t GetChannel(int16_t Index) final { return IADC3_GetChannel(Index); }
  BoundedArray<int16_t> GetKadr() final { return IADC3_GetKadr(); }
  bool StartRecord() final { return IADC3_StartRecord(); }
  void StopRecord() final { IADC3_StopRecord(); }
  BoundedArray2D<int16_t> InputData() final { return IADC3_InputData(); }
  int32_t GetData(int16_t& Data, int32_t& DataSize, int32_t& InputCountData) final {
    return IADC3_GetData(Data, DataSize, InputCountData);
  }
  std::string LastError() final { return IADC3_LastError(); }
  bool ShowSetting() final { return IADC3_ShowSetting(); }
  Object Parent() final { return IADC3_Parent(); }

 protected:
  virtual std::string IADC3_ADCName() = 0;
  virtual uint8_t IADC3_Resolution() = 0;
  virtual int16_t IADC3_ChannelsCount() = 0;
  virtual float IADC3_RateMax() = 0;
  virtual BoundedArray<std::string> IADC3_Ranges() = 0;
  virtual bool IADC3_Detected() = 0;
  virtual bool IADC3_Test() = 0;
  virtual int16_t IADC3_BasePort() = 0;
  virtual bool IADC3_Busy() = 0;
  virtual std::string IADC3_ChannelName(int16_t Index) = 0;
  virtual int16_t IADC3_ChannelRange(int16_t Index) = 0;
  virtual void IADC3_ChannelRange(int16_t Index, int16_t RangeIndex) = 0;
  virtual float IADC3_ChannelUnitScale(int16_t Index) = 0;
  virtual float IADC3_ChannelUnitOffset(int16_t Index) = 0;
  virtual std::string IADC3_ChannelUnitName(int16_t Index) = 0;
  virtual float IADC3_Rate() = 0;
  virtual void IADC3_Rate(float sRate) = 0;
  virtual void IADC3_InputSizeData(int32_t NewSize) = 0;
  virtual int32_t IADC3_InputSizeData() = 0;
  virtual int32_t IADC3_InputCountData() = 0;
  virtual int32_t IADC3_InputSizeKadrs() = 0;
  virtual int32_t IADC3_InputCountKadrs() = 0;
  virtual int16_t IADC3_InputCountChannels() = 0;
  virtual BoundedArray<int16_t> IADC3_InputChannels() = 0;
  virtual void IADC3_InputChannels(const BoundedArray<int16_t>& ChTable) = 0;
  virtual int16_t IADC3_GetChannel(int16_t Index) = 0;
  virtual BoundedArray<int16_t> IADC3_GetKadr() = 0;
  virtual bool IADC3_StartRecord() = 0;
  virtual void IADC3_StopRecord() = 0;
  virtual BoundedArray2D<int16_t> IADC3_InputData() = 0;
  virtual int32_t IADC3_GetData(int16_t& Data, int32_t& DataSize, int32_t& InputCountData) = 0;
  virtual std::string IADC3_LastError() = 0;
  virtual bool IADC3_ShowSetting() = 0;
  virtual Object IADC3_Parent() = 0;
};

}  // namespace quillbox
