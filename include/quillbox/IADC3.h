#pragma once
// Analog-input interface that the host defines and the driver implements.
// The order of the members is part of the interface.

#include <cstdint>
#include <string>

#include "quillbox/BoundedArray.h"
#include "quillbox/Object.h"

namespace quillbox {

class IADC3 : public virtual IObject {
 public:
  virtual std::string ADCName() = 0;
  virtual uint8_t Resolution() = 0;
  virtual int16_t ChannelsCount() = 0;
  virtual float RateMax() = 0;
  virtual BoundedArray<std::string> Ranges() = 0;
  virtual bool Detected() = 0;
  virtual bool Test() = 0;
  virtual int16_t BasePort() = 0;
  virtual bool Busy() = 0;
  virtual std::string ChannelName(int16_t Index) = 0;
  virtual int16_t ChannelRange(int16_t Index) = 0;
  virtual void ChannelRange(int16_t Index, int16_t RangeIndex) = 0;
  virtual float ChannelUnitScale(int16_t Index) = 0;
  virtual float ChannelUnitOffset(int16_t Index) = 0;
  virtual std::string ChannelUnitName(int16_t Index) = 0;
  virtual float Rate() = 0;
  virtual void Rate(float sRate) = 0;
  virtual void InputSizeData(int32_t NewSize) = 0;
  virtual int32_t InputSizeData() = 0;
  virtual int32_t InputCountData() = 0;
  virtual int32_t InputSizeKadrs() = 0;
  virtual int32_t InputCountKadrs() = 0;
  virtual int16_t InputCountChannels() = 0;
  virtual BoundedArray<int16_t> InputChannels() = 0;
  virtual void InputChannels(const BoundedArray<int16_t>& ChTable) = 0;
  virtual int16_t GetChannel(int16_t Index) = 0;
  virtual BoundedArray<int16_t> GetKadr() = 0;
  virtual bool StartRecord() = 0;
  virtual void StopRecord() = 0;
  virtual BoundedArray2D<int16_t> InputData() = 0;
  // Data is the first element of the host's buffer; DataSize values fit from there on.
  // On return DataSize holds the values written and InputCountData the frames still unread.
  virtual int32_t GetData(int16_t& Data, int32_t& DataSize, int32_t& InputCountData) = 0;
  virtual std::string LastError() = 0;
  virtual bool ShowSetting() = 0;
  virtual Object Parent() = 0;
};

}  // namespace quillbox
