// Entry points of the component library Quillbox.adc.

#include <cstring>
#include <memory>

#include "driver/E_270.h"
#include "quillbox/Object.h"

// Creates an object of the class named by progId ("Quillbox.E_270") into *out.
// Returns 0 on success, 1 for an identifier this component does not serve, 2 when the
// constructor failed.
extern "C" int QuillboxCreateObject(const char* progId, quillbox::Object* out) {
  if (progId == nullptr || out == nullptr) return 1;
  if (std::strcmp(progId, "Quillbox.E_270") != 0) return 1;
  try {
    *out = quillbox::CreateE_270();
    return 0;
  } catch (...) {
    return 2;
  }
}
