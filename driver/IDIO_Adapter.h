#pragma once
// Routes each IDIO member to the driver's IDIO_<Member> implementation, so that
// members that IADC3 and IDIO share by name (Detected) stay apart.

#include "quillbox/IDIO.h"

namespace quillbox {

class IDIO_Adapter : public IDIO {
 public:
  std::string DIOName() final { return IDIO_DIOName(); }
  bool Detected() final { return IDIO_Detected(); }
  uint8_t DIBits() final { return IDIO_DIBits(); }
  uint8_t DOBits() final { return IDIO_DOBits(); }
  int32_t DIValue() final { return IDIO_DIValue(); }
  int32_t DOValue() final { return IDIO_DOValue(); }
  void DOValue(int32_t lValue) final { IDIO_DOValue(lValue); }
  bool DOStartEnabled() final { return IDIO_DOStartEnabled(); }
  void DOStartEnabled(bool fTurn) final { IDIO_DOStartEnabled(fTurn); }
  int32_t DOStartValue() final { return IDIO_DOStartValue(); }
  void DOStartValue(int32_t lValue) final { IDIO_DOStartValue(lValue); }
  bool DOStopEnabled() final { return IDIO_DOStopEnabled(); }
  void DOStopEnabled(bool fTurn) final { IDIO_DOStopEnabled(fTurn); }
  int32_t DOStopValue() final { return IDIO_DOStopValue(); }
  void DOStopValue(int32_t lValue) final { IDIO_DOStopValue(lValue); }

 protected:
  virtual std::string IDIO_DIOName() = 0;
  virtual bool IDIO_Detected() = 0;
  virtual uint8_t IDIO_DIBits() = 0;
  virtual uint8_t IDIO_DOBits() = 0;
  virtual int32_t IDIO_DIValue() = 0;
  virtual int32_t IDIO_DOValue() = 0;
  virtual void IDIO_DOValue(int32_t lValue) = 0;
  virtual bool IDIO_DOStartEnabled() = 0;
  virtual void IDIO_DOStartEnabled(bool fTurn) = 0;
  virtual int32_t IDIO_DOStartValue() = 0;
  virtual void IDIO_DOStartValue(int32_t lValue) = 0;
  virtual bool IDIO_DOStopEnabled() = 0;
  virtual void IDIO_DOStopEnabled(bool fTurn) = 0;
  virtual int32_t IDIO_DOStopValue() = 0;
  virtual void IDIO_DOStopValue(int32_t lValue) = 0;
};

}  // namespace quillbox
