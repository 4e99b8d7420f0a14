#pragma once
// Host side of component loading: creates an object by its programmatic identifier
// ("Quillbox.E_270") from the component library Quillbox.adc.

#include <stdexcept>
#include <string>

#include "quillbox/Object.h"

namespace quillbox {

class CreateObjectError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Loads the component that serves progId (once per process; it stays loaded) and creates an
// object of it. Throws CreateObjectError with a readable reason when it cannot.
Object CreateObject(const std::string& progId);

// Path of the component library that CreateObject would load for progId, or "" if none.
std::string FindComponent(const std::string& progId);

// The same path and how it was found: "registered" (quillbox register), "beside the program",
// "QUILLBOX_COMPONENT" or "installed with the host library"; both "" if none.
struct ComponentOrigin {
  std::string path, how;
};
ComponentOrigin FindComponentOrigin(const std::string& progId);

// Address of an exported symbol of the loaded component that serves progId, or null.
void* ComponentSymbol(const std::string& progId, const char* symbol);

}  // namespace quillbox
