#pragma once
// Connects the driver to its user interface (when the component is built with one): the Qt
// implementations of the UI host hooks, the setup pages, and the device selection dialog as
// the chooser of the open path.

namespace quillbox {

// Idempotent; called by every E_270 construction, acts once per process.
void BindUi();

}  // namespace quillbox
