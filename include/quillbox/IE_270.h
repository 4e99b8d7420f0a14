#pragma once
// The driver class's own interface: reaches its two host-interface sides.

#include "quillbox/Object.h"

namespace quillbox {

class IE_270 : public virtual IObject {
 public:
  // The object itself, to be used through IADC3.
  virtual Object GetADC3() = 0;
  // The object itself, to be used through IDIO.
  virtual Object GetDIO() = 0;
};

}  // namespace quillbox
