#include "driver/DriverState.h"

namespace quillbox {

DriverState& State() {
  // Created when the component is loaded and kept for the life of the process.
  static DriverState state;
  return state;
}

}  // namespace quillbox
