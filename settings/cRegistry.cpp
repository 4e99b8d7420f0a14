#include "settings/cRegistry.h"

#include <array>
#include <bit>
#include <cstdio>
#include <vector>

#include "platform/Registry.h"

namespace quillbox {
namespace {

namespace reg = quillbox::platform;

constexpr reg::REGSAM kMaskRead = 0x20009;   // READ_CONTROL | KEY_QUERY_VALUE | KEY_ENUMERATE
constexpr reg::REGSAM kMaskWrite = 0x20006;  // KEY_WRITE
constexpr reg::REGSAM kMaskSetValue = 2;     // KEY_SET_VALUE
constexpr reg::REGSAM kMaskQueryValue = 1;   // KEY_QUERY_VALUE
constexpr reg::REGSAM kMaskCreate = 4;       // KEY_CREATE_SUB_KEY
constexpr reg::DWORD kMaxValueNameBuffer = 16384;
const char* const kCrLf = "\r\n";

reg::HKEY ToHKey(int32_t h) { return static_cast<reg::HKEY>(static_cast<uint32_t>(h)); }

// A key opened for the duration of one member. With useGivenWhenEmpty, an empty SubKey means
// the given key itself, which is then used as it is and not closed.
class Key {
 public:
  Key(int32_t hKeyReg, const std::string& subKey, reg::REGSAM mask, bool useGivenWhenEmpty) {
    if (useGivenWhenEmpty && subKey.empty()) {
      handle_ = ToHKey(hKeyReg);
      ok_ = true;
      return;
    }
    reg::HKEY h = 0;
    ok_ = reg::RegOpenKeyExA(ToHKey(hKeyReg), subKey.c_str(), 0, mask, &h) == reg::ERROR_SUCCESS;
    if (ok_) {
      handle_ = h;
      owned_ = true;
    }
  }
  ~Key() {
    if (owned_) reg::RegCloseKey(handle_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;

  bool ok() const { return ok_; }
  reg::HKEY get() const { return handle_; }

 private:
  reg::HKEY handle_ = 0;
  bool ok_ = false;
  bool owned_ = false;
};

// Little-endian number from the first (up to) four bytes.
uint32_t Dword(const std::vector<uint8_t>& data) {
  uint32_t v = 0;
  for (std::size_t i = 0; i < data.size() && i < 4; ++i) v |= uint32_t(data[i]) << (8 * i);
  return v;
}

// Reads the data of the value at index by enumeration; retries when the value grew between
// the size query and the read.
bool ReadData(reg::HKEY key, reg::DWORD index, reg::DWORD size, reg::DWORD& type,
              std::vector<uint8_t>& data) {
  std::vector<char> name(kMaxValueNameBuffer);
  for (int attempt = 0; attempt < 4; ++attempt) {
    data.assign(size + 1, 0);  // one spare byte so that the buffer is never empty
    reg::DWORD cch = kMaxValueNameBuffer;
    reg::DWORD cb = size;
    const reg::LONG r =
        reg::RegEnumValueA(key, index, name.data(), &cch, nullptr, &type, data.data(), &cb);
    if (r == reg::ERROR_SUCCESS) {
      data.resize(cb);
      return true;
    }
    if (r != reg::ERROR_MORE_DATA || cb <= size) break;
    size = cb;
  }
  data.clear();
  return false;
}

std::string HexBytes(const std::vector<uint8_t>& data) {
  std::string out;
  out.reserve(data.size() * 3);
  char buf[4];
  for (std::size_t i = 0; i < data.size(); ++i) {
    std::snprintf(buf, sizeof buf, i == 0 ? "%02x" : ",%02x", data[i]);
    out += buf;
  }
  return out;
}

std::string TrimSpaces(const std::string& s) {
  const std::size_t first = s.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

// Shared algorithm of EnumKeys and EnumValues.
int32_t EnumNames(int32_t HKeyReg, const std::string& SubKey, BoundedArray<std::string>& names,
                  bool values) {
  names = BoundedArray<std::string>(0, 0);
  names(0) = SubKey;
  Key key(HKeyReg, SubKey, kMaskRead, true);
  if (!key.ok()) return 0;
  reg::DWORD count = 0;
  reg::DWORD longest = 0;
  const reg::LONG r =
      values ? reg::RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, &count, &longest, nullptr, nullptr, nullptr)
             : reg::RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &count, &longest,
                                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  if (r != reg::ERROR_SUCCESS || count == 0) return 0;
  BoundedArray<std::string> grown(0, static_cast<int32_t>(count));
  grown(0) = SubKey;
  for (reg::DWORD i = 1; i <= count; ++i) {
    std::vector<char> buffer(longest + 1);
    reg::DWORD cch = longest + 1;
    const reg::LONG e = values ? reg::RegEnumValueA(key.get(), i - 1, buffer.data(), &cch, nullptr,
                                                    nullptr, nullptr, nullptr)
                               : reg::RegEnumKeyExA(key.get(), i - 1, buffer.data(), &cch, nullptr,
                                                    nullptr, nullptr, nullptr);
    if (e == reg::ERROR_SUCCESS) grown(static_cast<int32_t>(i)) = std::string(buffer.data(), cch);
  }
  names = std::move(grown);
  return static_cast<int32_t>(count);
}

}  // namespace

void cRegistry::DefaultSubKey(const std::string& strSubKey) {
  defaultSubKey_ = strSubKey;
  reg::HKEY h = 0;
  if (reg::RegOpenKeyExA(ToHKey(defaultHKey_), defaultSubKey_.c_str(), 0, kMaskRead, &h) ==
      reg::ERROR_SUCCESS) {
    reg::RegCloseKey(h);
  } else {
    CreateKey(defaultHKey_, defaultSubKey_);
  }
}

std::string cRegistry::ValueString(const std::string& Entry) {
  std::string s;
  GetString(Entry, s);
  return s;
}

void cRegistry::ValueString(const std::string& Entry, const std::string& strValue) {
  SetStringValue(defaultHKey_, defaultSubKey_, Entry, strValue);
}

bool cRegistry::GetString(const std::string& Entry, std::string& strValue) {
  return GetStringValue(defaultHKey_, defaultSubKey_, Entry, strValue);
}

bool cRegistry::SetString(const std::string& Entry, const std::string& strValue) {
  return SetStringValue(defaultHKey_, defaultSubKey_, Entry, strValue);
}

int32_t cRegistry::ValueLong(const std::string& Entry) {
  int32_t l = 0;
  GetLong(Entry, l);
  return l;
}

void cRegistry::ValueLong(const std::string& Entry, int32_t lValue) {
  SetDWORDValue(defaultHKey_, defaultSubKey_, Entry, lValue);
}

int32_t cRegistry::GetLong(const std::string& Entry, int32_t& lValue) {
  return GetDWORDValue(defaultHKey_, defaultSubKey_, Entry, lValue) ? -1 : 0;
}

bool cRegistry::SetLong(const std::string& Entry, int32_t lValue) {
  return SetDWORDValue(defaultHKey_, defaultSubKey_, Entry, lValue);
}

float cRegistry::ValueSingle(const std::string& Entry) {
  float s = 0.0f;
  GetSingle(Entry, s);
  return s;
}

void cRegistry::ValueSingle(const std::string& Entry, float sValue) { SetSingle(Entry, sValue); }

bool cRegistry::GetSingle(const std::string& Entry, float& sValue) {
  int32_t bits = 0;
  if (!GetDWORDValue(defaultHKey_, defaultSubKey_, Entry, bits)) return false;
  sValue = std::bit_cast<float>(bits);
  return true;
}

bool cRegistry::SetSingle(const std::string& Entry, float sValue) {
  return SetDWORDValue(defaultHKey_, defaultSubKey_, Entry, std::bit_cast<int32_t>(sValue));
}

int16_t cRegistry::ValueInteger(const std::string& Entry) {
  int16_t i = 0;
  GetInteger(Entry, i);
  return i;
}

void cRegistry::ValueInteger(const std::string& Entry, int16_t iValue) {
  SetInteger(Entry, iValue);
}

bool cRegistry::GetInteger(const std::string& Entry, int16_t& iValue) {
  int32_t l = 0;
  if (!GetDWORDValue(defaultHKey_, defaultSubKey_, Entry, l)) return false;
  iValue = static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(l) & 0xFFFFu));
  return true;
}

bool cRegistry::SetInteger(const std::string& Entry, int16_t iValue) {
  const auto zeroExtended =
      static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(iValue)));
  return SetDWORDValue(defaultHKey_, defaultSubKey_, Entry, zeroExtended);
}

bool cRegistry::KeyExist(int32_t HKeyReg, const std::string& SubKey) {
  return Key(HKeyReg, SubKey, kMaskRead, false).ok();
}

bool cRegistry::CreateKey(int32_t HKeyReg, const std::string& SubKey) {
  reg::HKEY h = 0;
  const reg::LONG r =
      reg::RegCreateKeyExA(ToHKey(HKeyReg), SubKey.c_str(), 0, nullptr,
                           reg::REG_OPTION_NON_VOLATILE, kMaskCreate, nullptr, &h, nullptr);
  if (r != reg::ERROR_SUCCESS) return false;
  reg::RegCloseKey(h);
  return true;
}

bool cRegistry::DeleteKey(int32_t HKeyReg, const std::string& SubKey) {
  Key key(HKeyReg, SubKey, kMaskWrite, false);
  if (!key.ok()) return false;
  return reg::RegDeleteKeyA(ToHKey(HKeyReg), SubKey.c_str()) == reg::ERROR_SUCCESS;
}

bool cRegistry::DeleteValue(int32_t HKeyReg, const std::string& SubKey, const std::string& Entry) {
  Key key(HKeyReg, SubKey, kMaskWrite, false);
  if (!key.ok()) return false;
  return reg::RegDeleteValueA(key.get(), Entry.c_str()) == reg::ERROR_SUCCESS;
}

int32_t cRegistry::GetValue(int32_t HKeyReg, const std::string& SubKey, const std::string& Entry,
                            RegistryValue& Value) {
  try {
    Key key(HKeyReg, SubKey, kMaskRead, true);
    if (!key.ok()) return 0;
    reg::DWORD count = 0;
    reg::DWORD longest = 0;
    if (reg::RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                              &count, &longest, nullptr, nullptr, nullptr) != reg::ERROR_SUCCESS ||
        count == 0)
      return 0;
    std::vector<char> name(longest + 1);
    for (reg::DWORD i = 0; i < count; ++i) {
      reg::DWORD cch = longest + 1;
      reg::DWORD type = 0;
      reg::DWORD size = 0;
      if (reg::RegEnumValueA(key.get(), i, name.data(), &cch, nullptr, &type, nullptr, &size) !=
          reg::ERROR_SUCCESS)
        continue;
      // Case-sensitive comparison; the default value has the empty name.
      if (std::string(name.data(), cch) != Entry) continue;
      std::vector<uint8_t> data;
      switch (type) {
        case reg::REG_BINARY:
          if (ReadData(key.get(), i, size, type, data))
            Value = BoundedArray<uint8_t>::FromVector(std::move(data));
          break;
        case reg::REG_DWORD:
        case reg::REG_DWORD_BIG_ENDIAN:
          if (ReadData(key.get(), i, size, type, data))
            Value = static_cast<int32_t>(Dword(data));  // no byte swap for the big-endian type
          break;
        case reg::REG_SZ:
        case reg::REG_EXPAND_SZ:
        case reg::REG_MULTI_SZ:
          if (ReadData(key.get(), i, size, type, data)) {
            if (!data.empty() && data.back() == 0) data.pop_back();
            Value = std::string(data.begin(), data.end());
          }
          break;
        default:
          break;  // other types: Value is left as it is
      }
      return static_cast<int32_t>(type);
    }
    return 0;
  } catch (...) {
    return 0;
  }
}

bool cRegistry::SetStringValue(int32_t HKeyReg, const std::string& SubKey, const std::string& Entry,
                               const std::string& Value) {
  Key key(HKeyReg, SubKey, kMaskSetValue, false);
  if (!key.ok()) return false;
  return reg::RegSetValueExA(key.get(), Entry.c_str(), 0, reg::REG_SZ,
                             reinterpret_cast<const uint8_t*>(Value.data()),
                             static_cast<reg::DWORD>(Value.size())) == reg::ERROR_SUCCESS;
}

bool cRegistry::GetStringValue(int32_t HKeyReg, const std::string& SubKey, const std::string& Entry,
                               std::string& Value) {
  Key key(HKeyReg, SubKey, kMaskQueryValue, false);
  if (!key.ok()) {
    Value.clear();
    return false;
  }
  reg::DWORD size = 0;
  reg::RegQueryValueExA(key.get(), Entry.c_str(), nullptr, nullptr, nullptr, &size);
  if (size == 0) {
    Value.clear();
    return false;
  }
  std::string buffer(size + 1, '\0');
  reg::DWORD cb = size;
  if (reg::RegQueryValueExA(key.get(), Entry.c_str(), nullptr, nullptr,
                            reinterpret_cast<uint8_t*>(buffer.data()), &cb) != reg::ERROR_SUCCESS) {
    Value.clear();
    return false;
  }
  Value = buffer.substr(0, buffer.find('\0'));
  return true;
}

bool cRegistry::SetBinaryValue(int32_t HKeyReg, const std::string& SubKey, const std::string& Entry,
                               const BoundedArray<uint8_t>& Value) {
  Key key(HKeyReg, SubKey, kMaskSetValue, false);
  if (!key.ok()) return false;
  return reg::RegSetValueExA(key.get(), Entry.c_str(), 0, reg::REG_BINARY, Value.data(),
                             static_cast<reg::DWORD>(Value.size())) == reg::ERROR_SUCCESS;
}

bool cRegistry::GetBinaryValue(int32_t HKeyReg, const std::string& SubKey, const std::string& Entry,
                               BoundedArray<uint8_t>& Value) {
  Key key(HKeyReg, SubKey, kMaskQueryValue, false);
  if (!key.ok()) return false;
  reg::DWORD size = 0;
  reg::RegQueryValueExA(key.get(), Entry.c_str(), nullptr, nullptr, nullptr, &size);
  if (size == 0) return false;
  Value = BoundedArray<uint8_t>(0, static_cast<int32_t>(size) - 1);
  reg::DWORD cb = size;
  return reg::RegQueryValueExA(key.get(), Entry.c_str(), nullptr, nullptr, Value.data(), &cb) ==
         reg::ERROR_SUCCESS;
}

bool cRegistry::SetDWORDValue(int32_t HKeyReg, const std::string& SubKey, const std::string& Entry,
                              int32_t Value) {
  Key key(HKeyReg, SubKey, kMaskWrite, false);
  if (!key.ok()) return false;
  const auto v = static_cast<uint32_t>(Value);
  const std::array<uint8_t, 4> bytes{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16),
                                     uint8_t(v >> 24)};
  return reg::RegSetValueExA(key.get(), Entry.c_str(), 0, reg::REG_DWORD, bytes.data(), 4) ==
         reg::ERROR_SUCCESS;
}

bool cRegistry::GetDWORDValue(int32_t HKeyReg, const std::string& SubKey, const std::string& Entry,
                              int32_t& Value) {
  Value = 0;
  Key key(HKeyReg, SubKey, kMaskQueryValue, false);
  if (!key.ok()) return false;
  std::array<uint8_t, 4> bytes{};
  reg::DWORD cb = 4;
  if (reg::RegQueryValueExA(key.get(), Entry.c_str(), nullptr, nullptr, bytes.data(), &cb) !=
      reg::ERROR_SUCCESS)
    return false;
  Value = static_cast<int32_t>(Dword(std::vector<uint8_t>(bytes.begin(), bytes.end())));
  return true;
}

int32_t cRegistry::EnumKeys(int32_t HKeyReg, const std::string& SubKey,
                            BoundedArray<std::string>& strEnumKeys) {
  return EnumNames(HKeyReg, SubKey, strEnumKeys, false);
}

int32_t cRegistry::EnumValues(int32_t HKeyReg, const std::string& SubKey,
                              BoundedArray<std::string>& strEnumValues) {
  return EnumNames(HKeyReg, SubKey, strEnumValues, true);
}

std::string cRegistry::ExportKey(int32_t HKeyReg, const std::string& SubKey, bool fEnumSubKey) {
  std::string out;
  {
    Key key(HKeyReg, SubKey, kMaskRead, true);
    if (!key.ok()) return {};
    out += kCrLf;
    out += "[" + StringFromHKEY(HKeyReg);
    if (!SubKey.empty()) out += "\\" + SubKey;
    out += "]";
    out += kCrLf;

    reg::DWORD count = 0;
    reg::DWORD longest = 0;
    if (reg::RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                              &count, &longest, nullptr, nullptr, nullptr) != reg::ERROR_SUCCESS)
      count = 0;
    std::vector<char> name(longest + 1);
    for (reg::DWORD i = 0; i < count; ++i) {
      reg::DWORD cch = longest + 1;
      reg::DWORD type = 0;
      reg::DWORD size = 0;
      if (reg::RegEnumValueA(key.get(), i, name.data(), &cch, nullptr, &type, nullptr, &size) !=
          reg::ERROR_SUCCESS)
        continue;  // skipped: nothing is written for it
      const std::string valueName(name.data(), cch);
      out += valueName.empty() ? "@=" : "\"" + valueName + "\"=";

      std::vector<uint8_t> data;
      reg::DWORD readType = type;
      // A failed read leaves the data empty; the line is still completed.
      if (size > 0 && !ReadData(key.get(), i, size, readType, data)) data.clear();
      char buf[32];
      switch (type) {
        case reg::REG_SZ:
        case reg::REG_EXPAND_SZ:
        case reg::REG_MULTI_SZ: {
          std::string text(data.begin(), data.end());
          text = text.substr(0, text.find('\0'));
          std::string escaped;
          for (char c : text) {
            if (c == '\\') escaped += '\\';
            escaped += c;
          }
          out += "\"" + TrimSpaces(escaped) + "\"";
          break;
        }
        case reg::REG_DWORD:
        case reg::REG_DWORD_BIG_ENDIAN:
          std::snprintf(buf, sizeof buf, "dword:%08x", Dword(data));
          out += buf;
          break;
        case reg::REG_BINARY:
          out += "hex:" + HexBytes(data);
          break;
        default:
          std::snprintf(buf, sizeof buf, "hex(%x):", type);
          out += buf + HexBytes(data);
          break;
      }
      out += kCrLf;
    }
  }  // the key is closed before the sub-keys are visited
  if (fEnumSubKey) out += ExportSubKeys(HKeyReg, SubKey, fEnumSubKey);
  return out;
}

std::string cRegistry::ExportSubKeys(int32_t HKeyReg, const std::string& SubKey, bool fEnumSubKey) {
  BoundedArray<std::string> names;
  const int32_t count = EnumKeys(HKeyReg, SubKey, names);
  const std::string prefix = names(0).empty() ? std::string() : names(0) + "\\";
  std::string out;
  for (int32_t i = 1; i <= count; ++i) out += ExportKey(HKeyReg, prefix + names(i), fEnumSubKey);
  return out;
}

std::string cRegistry::StringFromHKEY(int32_t HKeyReg) {
  switch (static_cast<uint32_t>(HKeyReg)) {
    case 0x80000000u:
      return "HKEY_CLASSES_ROOT";
    case 0x80000001u:
      return "HKEY_CURRENT_USER";
    case 0x80000002u:
      return "HKEY_LOCAL_MACHINE";
    case 0x80000003u:
      return "HKEY_USERS";
    case 0x80000004u:
      return "HKEY_PERFORMANCE_DATA";
    case 0x80000005u:
      return "HKEY_CURRENT_CONFIG";
    case 0x80000006u:
      return "HKEY_DYN_DATA";
    default:
      return {};
  }
}

std::string cRegistry::UserName() {
  std::string buffer(255, '\0');
  reg::DWORD length = 255;
  reg::GetUserNameA(buffer.data(), &length);
  const std::size_t nul = buffer.find('\0');
  return nul == std::string::npos ? std::string() : buffer.substr(0, nul);
}

}  // namespace quillbox
