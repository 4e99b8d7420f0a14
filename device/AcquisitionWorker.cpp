#include "device/AcquisitionWorker.h"

#include <atomic>
#include <system_error>

#include "platform/Clock.h"

namespace quillbox {
namespace {
std::atomic<bool> g_creationFails{false};
}  // namespace

void AcquisitionWorker::SetCreationFails(bool fails) { g_creationFails.store(fails); }

AcquisitionWorker::AcquisitionWorker() {
  // Brings the process clock up before the holder is complete, so that at exit the clock is
  // destroyed after the holder has joined a thread that still reads it.
  platform::GetTickCount();
}

AcquisitionWorker::~AcquisitionWorker() {
  if (!thread_.joinable()) return;
  if (requestStop_) requestStop_();
  thread_.join();
}

bool AcquisitionWorker::Start(std::function<void()> body, std::function<void()> requestStop) {
  Join();
  if (g_creationFails.load()) return false;
  try {
    thread_ = std::thread(std::move(body));
  } catch (const std::system_error&) {
    return false;
  }
  requestStop_ = std::move(requestStop);
  return true;
}

void AcquisitionWorker::Join() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

}  // namespace quillbox
