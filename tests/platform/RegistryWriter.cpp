// Helper process of the durability tests: writes a stream of registry entries and reports
// each one on stdout (4 bytes, the entry number) only after every call of it returned success.
// Usage: registry_writer FIRST COUNT   (the store is the one QUILLBOX_REGISTRY names)
// Entry i creates HKCU\Durable\W<i>\A\B (three keys in one call) and writes the value
// HKCU\Durable "V<i>". Exit status 0 when every write succeeded.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "DurableEntries.h"
#include "platform/Registry.h"

using namespace quillbox::platform;
using quillbox::testing::EntryKey;
using quillbox::testing::EntryValue;
using quillbox::testing::Pattern;

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: registry_writer FIRST COUNT\n");
    return 2;
  }
  const auto first = static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10));
  const auto count = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
  HKEY root = 0;
  if (const LONG r = RegCreateKeyExA(HKEY_CURRENT_USER, "Durable", 0, nullptr, 0, KEY_ALL_ACCESS,
                                     nullptr, &root, nullptr);
      r != ERROR_SUCCESS) {
    std::fprintf(stderr, "registry_writer: creating Durable failed with %d\n", r);
    return 1;
  }
  int failures = 0;
  for (uint32_t i = first; i < first + count; ++i) {
    HKEY key = 0;
    LONG r = RegCreateKeyExA(root, EntryKey(i).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                             &key, nullptr);
    if (r == ERROR_SUCCESS) {
      RegCloseKey(key);
      const std::vector<BYTE> data = Pattern(i);
      r = RegSetValueExA(root, EntryValue(i).c_str(), 0, REG_BINARY, data.data(),
                         static_cast<DWORD>(data.size()));
    }
    if (r != ERROR_SUCCESS) {
      std::fprintf(stderr, "registry_writer: entry %u failed with %d\n", i, r);
      ++failures;
      continue;
    }
    if (write(STDOUT_FILENO, &i, sizeof i) != sizeof i) return 1;
  }
  RegCloseKey(root);
  return failures == 0 ? 0 : 1;
}
