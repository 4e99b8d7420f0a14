#include "platform/DeviceNodes.h"

#include <atomic>

namespace quillbox::platform {
namespace {
std::atomic<DeviceNodeBackend*> g_backend{nullptr};
}

void SetDeviceNodeBackend(DeviceNodeBackend* backend) { g_backend.store(backend); }

int32_t OpenDeviceNode(const std::string& name, bool exclusive) {
  DeviceNodeBackend* backend = g_backend.load();
  return backend != nullptr ? backend->Open(name, exclusive) : kInvalidHandle;
}

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

}  // namespace quillbox::platform
