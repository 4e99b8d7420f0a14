// The help file beside the component: the first "DUzud*.chm" in the library's folder.

#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "driver/HelpFile.h"

namespace quillbox {
namespace {

namespace fs = std::filesystem;

std::mutex g_mutex;
std::string g_helpFile;  // process-wide; empty unless a help file was found

bool EqualsNoCase(char a, char b) {
  return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

// "DUzud*.chm", compared without regard to case as the original file system did.
bool MatchesHelpPattern(const std::string& name) {
  static const std::string prefix = "DUzud";
  static const std::string suffix = ".chm";
  if (name.size() < prefix.size() + suffix.size()) return false;
  return std::equal(prefix.begin(), prefix.end(), name.begin(), EqualsNoCase) &&
         std::equal(suffix.begin(), suffix.end(), name.end() - static_cast<long>(suffix.size()),
                    EqualsNoCase);
}

}  // namespace

std::string ComponentFolder() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ComponentFolder), &info) == 0 || info.dli_fname == nullptr)
    return {};
  std::error_code ec;
  fs::path path = info.dli_fname;
  // The main program may be reported by the name it was started with; /proc knows the file.
  if (!path.is_absolute() || !fs::is_regular_file(path, ec)) {
    path = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
  }
  return path.parent_path().string();
}

void FindHelpFileIn(const std::string& folder) {
  if (folder.empty()) return;
  std::error_code ec;
  std::vector<std::string> names;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    if (!it->is_regular_file(typeError)) continue;
    std::string name = it->path().filename().string();
    if (MatchesHelpPattern(name)) names.push_back(std::move(name));
  }
  if (names.empty()) return;
  // Directory order is arbitrary here; the first name in sorted order is taken.
  const std::string& name = *std::min_element(names.begin(), names.end());
  if (name.size() > 4) SetHelpFilePath((fs::path(folder) / name).string());
}

void FindHelpFile() { FindHelpFileIn(ComponentFolder()); }

std::string HelpFilePath() {
  std::lock_guard lock(g_mutex);
  return g_helpFile;
}

void SetHelpFilePath(const std::string& path) {
  std::lock_guard lock(g_mutex);
  g_helpFile = path;
}

}  // namespace quillbox
