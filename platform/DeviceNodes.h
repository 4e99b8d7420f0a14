#pragma once
// Device nodes of a kernel driver, by their Windows-style names ("\\.\LDevUsb0"): open, control
// request, close. The bench that stands in for the USB kernel driver registers itself as the
// backend; without a backend every open fails as if the driver were not installed.

#include <cstdint>
#include <string>
#include <vector>

namespace quillbox::platform {

constexpr int32_t kInvalidHandle = -1;

// Why an open failed, as the original platform's last-error code tells it.
enum class NodeOpenError {
  None,    // the open succeeded
  Absent,  // no such device
  Busy,    // the device is open elsewhere (a sharing violation)
};

// What an open asks of the node, as the original call's access and share mode say.
enum class NodeAccess {
  Exclusive,  // read and write, share mode 0: no other open of the node at the same time
  Shared,     // read and write, shared: other shared opens only
  // Neither read nor write (attributes, the module-name request, the descriptor): never in the
  // way of another open, and refused as busy while the node is open for read and write anywhere.
  Query,
};

class DeviceNodeBackend {
 public:
  virtual ~DeviceNodeBackend() = default;
  // Returns a handle (never -1, low 16 bits non-zero) or -1 when the node is absent or busy,
  // saying which in `error`.
  virtual int32_t Open(const std::string& name, NodeAccess access, NodeOpenError& error) = 0;
  // Sends control `code`; returns false on failure. `returned` gets the bytes written to out.
  virtual bool Control(int32_t handle, uint32_t code, const void* in, uint32_t inSize, void* out,
                       uint32_t outSize, uint32_t& returned) = 0;
  virtual bool Close(int32_t handle) = 0;
  // The processes other than this one that have the node open, as far as the backend can tell
  // (a node found busy names who has it).
  virtual std::vector<int> Holders(const std::string& /*name*/) { return {}; }
};

// Installs the backend (null removes it). The backend must outlive its registration.
void SetDeviceNodeBackend(DeviceNodeBackend* backend);

// Returns -1 on failure.
int32_t OpenDeviceNode(const std::string& name, NodeAccess access = NodeAccess::Exclusive);
// Why the calling thread's last OpenDeviceNode failed; None when it succeeded.
NodeOpenError LastNodeOpenError();
bool DeviceNodeControl(int32_t handle, uint32_t code, const void* in, uint32_t inSize, void* out,
                       uint32_t outSize, uint32_t& returned);
bool CloseDeviceNode(int32_t handle);
// The processes other than this one that have the node open; empty when none or unknown.
std::vector<int> DeviceNodeHolders(const std::string& name);

}  // namespace quillbox::platform
