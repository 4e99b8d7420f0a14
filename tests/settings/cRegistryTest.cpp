#include "settings/cRegistry.h"

#include <gtest/gtest.h>

#include "platform/Registry.h"
#include "tests/platform/RegistryTestSupport.h"

namespace quillbox {
namespace {

namespace reg = quillbox::platform;
using quillbox::testing::SetRawValue;
constexpr int32_t HKCU = cRegistry::kHKeyCurrentUser;
constexpr auto HKU = static_cast<int32_t>(0x80000003u);

class cRegistryTest : public quillbox::testing::RegistryTest {
 protected:
  cRegistry r;
};

// The export text, byte for byte: escaping, subkeys depth first, a root's subkeys without a
// leading backslash, and a complete line for every value whatever its type and size.
TEST_F(cRegistryTest, ExportIsExact) {
  r.CreateKey(HKCU, "X\\b\\deep");
  r.CreateKey(HKCU, "X\\A");
  r.SetStringValue(HKCU, "X", "", "a\\b");
  r.SetDWORDValue(HKCU, "X", "N", 10);
  r.SetBinaryValue(HKCU, "X", "B", {0x0A, 0xFF});
  r.SetDWORDValue(HKCU, "X\\A", "Rate", static_cast<int32_t>(0xFFFFFFFF));
  r.SetStringValue(HKCU, "X\\b\\deep", "Path", "  C:\\Data \"raw\"  ");
  SetRawValue("X\\b\\deep", "Q", reg::REG_QWORD, std::string("\x01\0\0\0\0\0\0\x80", 8));
  r.SetBinaryValue(HKCU, "X\\b\\deep", "EmptyBin", BoundedArray<uint8_t>());
  SetRawValue("X\\b\\deep", "Multi", reg::REG_MULTI_SZ, std::string("one\0two\0\0", 9));
  SetRawValue("X\\b\\deep", "ShortDword", reg::REG_DWORD, std::string("\x05"));
  const std::string x =
      "\r\n[HKEY_CURRENT_USER\\X]\r\n"
      "@=\"a\\\\b\"\r\n"
      "\"N\"=dword:0000000a\r\n"
      "\"B\"=hex:0a,ff\r\n";
  EXPECT_EQ(r.ExportKey(HKCU, "X"), x);
  EXPECT_EQ(r.ExportKey(HKCU, "X", true), x + "\r\n[HKEY_CURRENT_USER\\X\\A]\r\n"
                                              "\"Rate\"=dword:ffffffff\r\n"
                                              "\r\n[HKEY_CURRENT_USER\\X\\b]\r\n"
                                              "\r\n[HKEY_CURRENT_USER\\X\\b\\deep]\r\n"
                                              "\"Path\"=\"C:\\\\Data \"raw\"\"\r\n"
                                              "\"Q\"=hex(b):01,00,00,00,00,00,00,80\r\n"
                                              "\"EmptyBin\"=hex:\r\n"
                                              "\"Multi\"=\"one\"\r\n"
                                              "\"ShortDword\"=dword:00000005\r\n");
  EXPECT_EQ(r.ExportKey(HKCU, "Nowhere", true), "");
  r.CreateKey(HKU, "S-1\\Env");
  r.SetStringValue(HKU, "S-1\\Env", "Lang", "en");
  EXPECT_EQ(r.ExportKey(HKU, "", true),
            "\r\n[HKEY_USERS]\r\n"
            "\r\n[HKEY_USERS\\S-1]\r\n"
            "\r\n[HKEY_USERS\\S-1\\Env]\r\n"
            "\"Lang\"=\"en\"\r\n");
}

}  // namespace
}  // namespace quillbox
