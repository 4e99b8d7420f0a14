#include "platform/DeviceNodes.h"

#include <atomic>

namespace quillbox::platform {
namespace {
std::atomic<DeviceNodeBackend*> g_backend{nullptr};
thread_local NodeOpenError t_lastOpenError = NodeOpenError::None;
}  // namespace

void SetDeviceNodeBackend(DeviceNodeBackend* backend) { g_backend.store(backend); }

int32_t OpenDeviceNode(const std::string& name, NodeAccess access) {
  DeviceNodeBackend* backend = g_backend.load();
  NodeOpenError error = NodeOpenError::Absent;
  const int32_t handle = backend != nullptr ? backend->Open(name, access, error) : kInvalidHandle;
  if (handle != kInvalidHandle)
    error = NodeOpenError::None;
  else if (error == NodeOpenError::None)
    error = NodeOpenError::Absent;
  t_lastOpenError = error;
  return handle;
}

NodeOpenError LastNodeOpenError() { return t_lastOpenError; }

bool DeviceNodeControl(int32_t handle, uint32_t code, const void* in, uint32_t inSize, void* out,
                       uint32_t outSize, uint32_t& returned) {
  returned = 0;
  DeviceNodeBackend* backend = g_backend.load();
  if (backend == nullptr || handle == kInvalidHandle) return false;
  return backend->Control(handle, code, in, inSize, out, outSize, returned);
}

bool CloseDeviceNode(int32_t handle) {
  DeviceNodeBackend* backend = g_backend.load();
  if (backend == nullptr || handle == kInvalidHandle) return false;
  return backend->Close(handle);
}

std::vector<int> DeviceNodeHolders(const std::string& name) {
  DeviceNodeBackend* backend = g_backend.load();
  return backend != nullptr ? backend->Holders(name) : std::vector<int>{};
}

}  // namespace quillbox::platform
