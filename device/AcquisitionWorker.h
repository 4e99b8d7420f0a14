#pragma once
// The acquisition thread of the running recording. A thread that was asked to stop is joined
// before the next one starts and, at the latest, when the holder is destroyed (the component
// unloads), so no acquisition thread outlives the driver.

#include <functional>
#include <thread>

namespace quillbox {

class AcquisitionWorker {
 public:
  AcquisitionWorker();
  ~AcquisitionWorker();
  AcquisitionWorker(const AcquisitionWorker&) = delete;
  AcquisitionWorker& operator=(const AcquisitionWorker&) = delete;

  // Joins an earlier thread (which must have been asked to stop), then runs `body` on a new one.
  // `requestStop` must make the body return soon; the destructor calls it before joining.
  // False when no thread could be made.
  bool Start(std::function<void()> body, std::function<void()> requestStop);
  // Waits for the thread to end (it must have been asked to stop). No-op without a thread.
  void Join();
  bool Joinable() const { return thread_.joinable(); }

  // Test hook: while set, Start fails as if the system refused to create a thread.
  static void SetCreationFails(bool fails);

 private:
  std::thread thread_;
  std::function<void()> requestStop_;
};

}  // namespace quillbox
