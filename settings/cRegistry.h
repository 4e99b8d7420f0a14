#pragma once
// General-purpose access to the registry: read, write, create, delete and enumerate keys and
// values, look a value up with its type, and render a key (optionally with its sub-tree) as
// registry-export text. The first group of members works on a stored default root and sub-key.
//
// No key stays open between calls: every member opens what it needs and closes it again.
// Failures are reported only by each member's own result (false, 0 or empty text).
// Root keys are the predefined handle values (HKEY_CURRENT_USER = 0x80000001) as Long; an
// already open key handle may be passed instead.
//
// Choices where the original behaviour was not sound:
// - ExportKey writes a value of any other type in the export file's own form "hex(t):" (t the
//   type in lowercase hexadecimal) followed by its bytes, so every value ends its own line;
// - ExportKey writes an empty REG_BINARY value as "hex:" with no bytes;
// - GetValue with an empty Entry finds the key's unnamed default value (its enumerated name
//   is empty too);
// - GetValue returns the text of a REG_SZ, REG_EXPAND_SZ or REG_MULTI_SZ without its final
//   terminator only when the data has one: text stored without a terminator (as
//   SetStringValue stores it) comes back whole.

#include <cstdint>
#include <string>
#include <variant>

#include "quillbox/BoundedArray.h"

namespace quillbox {

// A value as GetValue returns it: bytes (REG_BINARY), a Long (REG_DWORD, REG_DWORD_BIG_ENDIAN)
// or text (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ); empty when nothing was read.
using RegistryValue = std::variant<std::monostate, BoundedArray<uint8_t>, int32_t, std::string>;

class cRegistry {
 public:
  static constexpr int32_t kHKeyCurrentUser = static_cast<int32_t>(0x80000001u);

  cRegistry() = default;

  // Root and sub-key of the shortcut members.
  int32_t DefaultHKey() const { return defaultHKey_; }
  void DefaultHKey(int32_t lKey) { defaultHKey_ = lKey; }
  const std::string& DefaultSubKey() const { return defaultSubKey_; }
  // Stores the path and creates the key (with missing parents) when it cannot be opened.
  void DefaultSubKey(const std::string& strSubKey);

  std::string ValueString(const std::string& Entry);
  void ValueString(const std::string& Entry, const std::string& strValue);
  bool GetString(const std::string& Entry, std::string& strValue);
  bool SetString(const std::string& Entry, const std::string& strValue);
  int32_t ValueLong(const std::string& Entry);
  void ValueLong(const std::string& Entry, int32_t lValue);
  // -1 when the value was read, 0 when not.
  int32_t GetLong(const std::string& Entry, int32_t& lValue);
  bool SetLong(const std::string& Entry, int32_t lValue);
  float ValueSingle(const std::string& Entry);
  void ValueSingle(const std::string& Entry, float sValue);
  // The 32-bit value holds the float's bit pattern.
  bool GetSingle(const std::string& Entry, float& sValue);
  bool SetSingle(const std::string& Entry, float sValue);
  int16_t ValueInteger(const std::string& Entry);
  void ValueInteger(const std::string& Entry, int16_t iValue);
  // The low 16 bits of the 32-bit value.
  bool GetInteger(const std::string& Entry, int16_t& iValue);
  // Stores the 16-bit pattern zero-extended (-1 is stored as 0x0000FFFF).
  bool SetInteger(const std::string& Entry, int16_t iValue);

  bool KeyExist(int32_t HKeyReg, const std::string& SubKey);
  bool CreateKey(int32_t HKeyReg, const std::string& SubKey);
  bool DeleteKey(int32_t HKeyReg, const std::string& SubKey);
  bool DeleteValue(int32_t HKeyReg, const std::string& SubKey, const std::string& Entry);
  // The value's registry type (0 when not found) and its data in Value.
  int32_t GetValue(int32_t HKeyReg, const std::string& SubKey, const std::string& Entry,
                   RegistryValue& Value);
  // REG_SZ of the text's bytes, no terminator. The key must exist.
  bool SetStringValue(int32_t HKeyReg, const std::string& SubKey, const std::string& Entry,
                      const std::string& Value);
  bool GetStringValue(int32_t HKeyReg, const std::string& SubKey, const std::string& Entry,
                      std::string& Value);
  bool SetBinaryValue(int32_t HKeyReg, const std::string& SubKey, const std::string& Entry,
                      const BoundedArray<uint8_t>& Value);
  // Value becomes an array with indices 0 .. size-1; an empty or missing value gives false.
  bool GetBinaryValue(int32_t HKeyReg, const std::string& SubKey, const std::string& Entry,
                      BoundedArray<uint8_t>& Value);
  bool SetDWORDValue(int32_t HKeyReg, const std::string& SubKey, const std::string& Entry,
                     int32_t Value);
  // Reads any value of at most 4 bytes (little-endian); Value is 0 when it fails.
  bool GetDWORDValue(int32_t HKeyReg, const std::string& SubKey, const std::string& Entry,
                     int32_t& Value);
  // Element 0 is SubKey, elements 1..count the sub-key (value) names; returns count.
  int32_t EnumKeys(int32_t HKeyReg, const std::string& SubKey,
                   BoundedArray<std::string>& strEnumKeys);
  int32_t EnumValues(int32_t HKeyReg, const std::string& SubKey,
                     BoundedArray<std::string>& strEnumValues);
  // Registry-export text of the key (CR LF line ends), with its sub-tree depth-first when
  // fEnumSubKey is true; empty text when the key cannot be opened.
  std::string ExportKey(int32_t HKeyReg, const std::string& SubKey, bool fEnumSubKey = false);
  std::string StringFromHKEY(int32_t HKeyReg);
  std::string UserName();

 private:
  std::string ExportSubKeys(int32_t HKeyReg, const std::string& SubKey, bool fEnumSubKey);

  int32_t defaultHKey_ = kHKeyCurrentUser;
  std::string defaultSubKey_ = "Software";
};

}  // namespace quillbox
