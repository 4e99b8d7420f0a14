#pragma once
// The entries registry_writer writes: entry i is the key Durable\W<i>\A\B and the value
// Durable "V<i>" holding Pattern(i).

#include <cstdint>
#include <string>
#include <vector>

namespace quillbox::testing {

inline std::vector<uint8_t> Pattern(uint32_t i) {
  std::vector<uint8_t> data(300);
  for (std::size_t k = 0; k < data.size(); ++k)
    data[k] = static_cast<uint8_t>((std::size_t{i} * 31 + k * 7) & 0xFF);
  return data;
}

inline std::string EntryKey(uint32_t i) { return "W" + std::to_string(i) + "\\A\\B"; }
inline std::string EntryValue(uint32_t i) { return "V" + std::to_string(i); }

}  // namespace quillbox::testing
