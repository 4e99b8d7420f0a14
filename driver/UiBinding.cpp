#include "driver/UiBinding.h"

#include <mutex>

#ifdef QUILLBOX_WITH_UI
#include "device/DeviceChooser.h"
#include "driver/DriverState.h"
#include "ui/Ui.h"
#endif

namespace quillbox {

void BindUi() {
#ifdef QUILLBOX_WITH_UI
  static std::once_flag once;
  std::call_once(once, [] {
    InstallQtUiHooks();
    RegisterStandardPages();
    SetDeviceChooser([](DriverState& state) { return SelectDevice(state); });
  });
#endif
}

}  // namespace quillbox
