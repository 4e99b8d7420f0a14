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
  cRegistryTest() {
    r.DefaultSubKey("Software\\Test");  // creates it
  }

  cRegistry r;
};

TEST_F(cRegistryTest, TypedValuesKeepTheirBitsAndFailedReadsTheirOutputs) {
  EXPECT_TRUE(r.SetSingle("F", 1.0f));
  EXPECT_EQ(r.ValueLong("F"), 0x3F800000);
  EXPECT_TRUE(r.SetInteger("I", -1));
  EXPECT_EQ(r.ValueLong("I"), 65535);  // zero-extended
  r.ValueLong("L", 0x12348001);
  EXPECT_EQ(r.ValueInteger("L"), static_cast<int16_t>(0x8001));  // the low 16 bits
  int32_t l = 7;
  EXPECT_EQ(r.GetLong("L", l), -1);
  EXPECT_EQ(l, 0x12348001);

  EXPECT_EQ(r.GetLong("Missing", l), 0);
  EXPECT_EQ(l, 0);  // GetDWORDValue clears first
  float f = 3.0f;
  EXPECT_FALSE(r.GetSingle("Missing", f));
  EXPECT_EQ(f, 3.0f);
  std::string s = "old";
  EXPECT_FALSE(r.GetString("Missing", s));
  EXPECT_EQ(s, "");
  BoundedArray<uint8_t> bytes{1, 2, 3};
  EXPECT_FALSE(r.GetBinaryValue(HKCU, "Software\\Nowhere", "Missing", bytes));
  EXPECT_EQ(bytes, (BoundedArray<uint8_t>{1, 2, 3}));
  // Bytes go from the array's lower bound and come back with indices from 0.
  ASSERT_TRUE(r.SetBinaryValue(HKCU, "Software\\Test", "B", BoundedArray<uint8_t>({9, 8, 7}, -1)));
  ASSERT_TRUE(r.GetBinaryValue(HKCU, "Software\\Test", "B", bytes));
  EXPECT_EQ(bytes, (BoundedArray<uint8_t>{9, 8, 7}));
  EXPECT_EQ(bytes.LBound(), 0);
  // A value is written only into an existing key.
  EXPECT_FALSE(r.SetStringValue(HKCU, "Software\\Nowhere", "S", "x"));
  EXPECT_FALSE(r.KeyExist(HKCU, "Software\\Nowhere"));
}

TEST_F(cRegistryTest, GetValueReturnsTypeAndData) {
  const std::string key = "Software\\Test";
  const struct {
    const char* name;
    reg::DWORD type;
    std::string bytes;
    int code;
    RegistryValue value;
  } cases[] = {
      {"Bin", reg::REG_BINARY, "\x01\x02", 3, BoundedArray<uint8_t>{1, 2}},
      {"Big", reg::REG_DWORD_BIG_ENDIAN, std::string("\x01\x00\x00\x00", 4), 5, 1},  // no swap
      {"Multi", reg::REG_MULTI_SZ, std::string("a\0b\0\0", 5), 7, std::string("a\0b\0", 4)},
      {"Exp", reg::REG_EXPAND_SZ, std::string("%HOME%\0", 7), 2, "%HOME%"},
      {"Q", reg::REG_QWORD, std::string(8, '\x01'), 11, 42},  // the value is left as it was
  };
  for (const auto& c : cases) {
    SetRawValue(key, c.name, c.type, c.bytes);
    RegistryValue v = int32_t{42};
    EXPECT_EQ(r.GetValue(HKCU, key, c.name, v), c.code) << c.name;
    EXPECT_EQ(v, c.value) << c.name;
  }
  RegistryValue v = int32_t{42};
  EXPECT_EQ(r.GetValue(HKCU, key, "bin", v), 0);  // names compare with case here
  EXPECT_EQ(r.GetValue(HKCU, "Software\\Nowhere", "Bin", v), 0);
  EXPECT_EQ(std::get<int32_t>(v), 42);
}

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
  SetRawValue("X\\b\\deep", "None", reg::REG_NONE, std::string());
  r.SetBinaryValue(HKCU, "X\\b\\deep", "EmptyBin", BoundedArray<uint8_t>());
  SetRawValue("X\\b\\deep", "EmptyText", reg::REG_SZ, std::string());
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
                                              "\"None\"=hex(0):\r\n"
                                              "\"EmptyBin\"=hex:\r\n"
                                              "\"EmptyText\"=\"\"\r\n"
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
