#include "recording/DiskGuard.h"

#include <sys/statvfs.h>

#include <cstdio>
#include <optional>

namespace quillbox::recording {

std::optional<uint64_t> FreeBytes(const std::string& folder) {
  struct statvfs st {};
  if (::statvfs(folder.c_str(), &st) != 0) return std::nullopt;
  return static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
}

std::string SizeText(uint64_t bytes) {
  const char* units[] = {"B", "kB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes);
  std::size_t u = 0;
  while (value >= 1000 && u + 1 < std::size(units)) {
    value /= 1000;
    ++u;
  }
  char text[32];
  std::snprintf(text, sizeof text, u == 0 ? "%.0f %s" : "%.3g %s", value, units[u]);
  return text;
}

bool DiskGuard::WantsStop(std::string& reason, std::string& message) {
  const std::optional<uint64_t> free = FreeBytes(folder_);
  if (!free || *free >= minFree_) return false;
  reason = "low disk";
  message = "the disk holding " + folder_ + " has " + SizeText(*free) + " free, less than the " +
            SizeText(minFree_) + " to keep free (--min-free); the recording ends here";
  return true;
}

}  // namespace quillbox::recording
