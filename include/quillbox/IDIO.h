#pragma once
// Digital input/output interface that the host defines and the driver implements.
// The order of the members is part of the interface.

#include <cstdint>
#include <string>

#include "quillbox/Object.h"

namespace quillbox {

class IDIO : public virtual IObject {
 public:
  virtual std::string DIOName() = 0;
  virtual bool Detected() = 0;
  virtual uint8_t DIBits() = 0;
  virtual uint8_t DOBits() = 0;
  virtual int32_t DIValue() = 0;
  virtual int32_t DOValue() = 0;
  virtual void DOValue(int32_t lValue) = 0;
  virtual bool DOStartEnabled() = 0;
  virtual void DOStartEnabled(bool fTurn) = 0;
  virtual int32_t DOStartValue() = 0;
  virtual void DOStartValue(int32_t lValue) = 0;
  virtual bool DOStopEnabled() = 0;
  virtual void DOStopEnabled(bool fTurn) = 0;
  virtual int32_t DOStopValue() = 0;
  virtual void DOStopValue(int32_t lValue) = 0;
};

}  // namespace quillbox
