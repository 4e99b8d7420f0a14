#include "settings/cRegistry.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <limits>

#include "platform/Registry.h"
#include "tests/platform/RegistryTestSupport.h"

namespace quillbox {
namespace {

namespace reg = quillbox::platform;
constexpr int32_t HKCU = cRegistry::kHKeyCurrentUser;
constexpr auto HKU = static_cast<int32_t>(0x80000003u);

class cRegistryTest : public quillbox::testing::RegistryTest {
 protected:
  cRegistryTest() {
    r.DefaultSubKey("Software\\Test");  // creates it
  }

  // Writes a value of any type and bytes straight through the registry functions.
  static void Raw(const std::string& subKey, const char* name, reg::DWORD type,
                  const std::string& bytes) {
    reg::HKEY h = 0;
    ASSERT_EQ(reg::RegCreateKeyExA(reg::HKEY_CURRENT_USER, subKey.c_str(), 0, nullptr, 0,
                                   reg::KEY_ALL_ACCESS, nullptr, &h, nullptr),
              reg::ERROR_SUCCESS);
    ASSERT_EQ(reg::RegSetValueExA(h, name, 0, type, reinterpret_cast<const uint8_t*>(bytes.data()),
                                  static_cast<reg::DWORD>(bytes.size())),
              reg::ERROR_SUCCESS);
    reg::RegCloseKey(h);
  }

  cRegistry r;
};

TEST_F(cRegistryTest, NumbersKeepTheirBits) {
  EXPECT_TRUE(r.SetSingle("F", 1.0f));
  int32_t bits = 0;
  ASSERT_TRUE(r.GetDWORDValue(HKCU, "Software\\Test", "F", bits));
  EXPECT_EQ(bits, 0x3F800000);
  r.ValueSingle("F", -2.5f);
  EXPECT_EQ(r.ValueSingle("F"), -2.5f);
  r.ValueSingle("N", std::numeric_limits<float>::quiet_NaN());
  EXPECT_TRUE(std::isnan(r.ValueSingle("N")));

  EXPECT_TRUE(r.SetInteger("I", -1));
  EXPECT_EQ(r.ValueLong("I"), 65535);  // zero-extended
  int16_t i = 0;
  EXPECT_TRUE(r.GetInteger("I", i));
  EXPECT_EQ(i, -1);
  r.ValueLong("L", 0x12348001);
  EXPECT_EQ(r.ValueInteger("L"), static_cast<int16_t>(0x8001));  // the low 16 bits
  int32_t l = 7;
  EXPECT_EQ(r.GetLong("L", l), -1);
  EXPECT_EQ(l, 0x12348001);
  EXPECT_TRUE(r.SetLong("L", -5));
  EXPECT_EQ(r.ValueLong("L"), -5);
}

TEST_F(cRegistryTest, FailedReadsLeaveTheDocumentedOutputs) {
  int32_t l = 7;
  EXPECT_EQ(r.GetLong("Missing", l), 0);
  EXPECT_EQ(l, 0);  // GetDWORDValue clears first
  float f = 3.0f;
  EXPECT_FALSE(r.GetSingle("Missing", f));
  EXPECT_EQ(f, 3.0f);
  int16_t i = 9;
  EXPECT_FALSE(r.GetInteger("Missing", i));
  EXPECT_EQ(i, 9);
  std::string s = "old";
  EXPECT_FALSE(r.GetString("Missing", s));
  EXPECT_EQ(s, "");
  BoundedArray<uint8_t> bytes{1, 2, 3};
  EXPECT_FALSE(r.GetBinaryValue(HKCU, "Software\\Test", "Missing", bytes));
  EXPECT_EQ(bytes, (BoundedArray<uint8_t>{1, 2, 3}));
  EXPECT_FALSE(r.GetBinaryValue(HKCU, "Software\\Nowhere", "Missing", bytes));
  EXPECT_EQ(r.ValueString("Missing"), "");
  EXPECT_EQ(r.ValueLong("Missing"), 0);
  EXPECT_EQ(r.ValueSingle("Missing"), 0.0f);
  EXPECT_EQ(r.ValueInteger("Missing"), 0);
}

TEST_F(cRegistryTest, DwordReadsTakeAnyValueOfAtMostFourBytes) {
  ASSERT_TRUE(r.SetBinaryValue(HKCU, "Software\\Test", "Two", BoundedArray<uint8_t>({1, 2}, 5)));
  int32_t v = 0;
  EXPECT_TRUE(r.GetDWORDValue(HKCU, "Software\\Test", "Two", v));
  EXPECT_EQ(v, 0x0201);
  ASSERT_TRUE(r.SetBinaryValue(HKCU, "Software\\Test", "Five", {1, 2, 3, 4, 5}));
  v = 7;
  EXPECT_FALSE(r.GetDWORDValue(HKCU, "Software\\Test", "Five", v));
  EXPECT_EQ(v, 0);
  Raw("Software\\Test", "Text", reg::REG_SZ, "ab");
  EXPECT_TRUE(r.GetDWORDValue(HKCU, "Software\\Test", "Text", v));
  EXPECT_EQ(v, 0x6261);
}

TEST_F(cRegistryTest, TextAndBinaryValues) {
  EXPECT_TRUE(r.SetString("S", "E-270"));
  EXPECT_EQ(r.ValueString("S"), "E-270");
  reg::HKEY h = 0;
  ASSERT_EQ(reg::RegOpenKeyExA(reg::HKEY_CURRENT_USER, "Software\\Test", 0, 1, &h), 0);
  reg::DWORD size = 0;
  reg::RegQueryValueExA(h, "S", nullptr, nullptr, nullptr, &size);
  reg::RegCloseKey(h);
  EXPECT_EQ(size, 5u);  // stored without a terminator

  r.ValueString("Empty", "");
  std::string s = "old";
  EXPECT_FALSE(r.GetStringValue(HKCU, "Software\\Test", "Empty", s));
  EXPECT_EQ(s, "");
  Raw("Software\\Test", "Nul", reg::REG_SZ, std::string("abc\0def", 7));
  EXPECT_EQ(r.ValueString("Nul"), "abc");
  // The key must exist: it is not created.
  EXPECT_FALSE(r.SetStringValue(HKCU, "Software\\Nowhere", "S", "x"));
  EXPECT_FALSE(r.KeyExist(HKCU, "Software\\Nowhere"));

  // Bytes from the array's lower bound; read back with indices from 0.
  ASSERT_TRUE(r.SetBinaryValue(HKCU, "Software\\Test", "B", BoundedArray<uint8_t>({9, 8, 7}, -1)));
  BoundedArray<uint8_t> bytes;
  ASSERT_TRUE(r.GetBinaryValue(HKCU, "Software\\Test", "B", bytes));
  EXPECT_EQ(bytes, (BoundedArray<uint8_t>{9, 8, 7}));
  EXPECT_EQ(bytes.LBound(), 0);
  ASSERT_TRUE(r.SetBinaryValue(HKCU, "Software\\Test", "B0", BoundedArray<uint8_t>()));
  bytes = {1};
  EXPECT_FALSE(r.GetBinaryValue(HKCU, "Software\\Test", "B0", bytes));
  EXPECT_EQ(bytes, (BoundedArray<uint8_t>{1}));
}

TEST_F(cRegistryTest, KeysAndValuesAreCreatedAndDeleted) {
  EXPECT_TRUE(r.CreateKey(HKCU, "Software\\Test\\A\\B"));
  EXPECT_TRUE(r.CreateKey(HKCU, "Software\\Test\\A\\B"));  // existing: opened
  EXPECT_TRUE(r.KeyExist(HKCU, "software\\test\\a"));
  EXPECT_FALSE(r.DeleteKey(HKCU, "Software\\Test\\A"));  // has a sub-key
  EXPECT_TRUE(r.DeleteKey(HKCU, "Software\\Test\\A\\B"));
  EXPECT_FALSE(r.DeleteKey(HKCU, "Software\\Test\\A\\B"));
  EXPECT_TRUE(r.DeleteKey(HKCU, "Software\\Test\\A"));
  EXPECT_FALSE(r.KeyExist(HKCU, "Software\\Test\\A"));

  r.ValueLong("V", 1);
  EXPECT_TRUE(r.DeleteValue(HKCU, "Software\\Test", "v"));
  EXPECT_FALSE(r.DeleteValue(HKCU, "Software\\Test", "V"));
  EXPECT_FALSE(r.DeleteValue(HKCU, "Software\\Nowhere", "V"));
}

TEST_F(cRegistryTest, GetValueReturnsTypeAndData) {
  const std::string key = "Software\\Test";
  r.ValueString("", "default");
  Raw(key, "Bin", reg::REG_BINARY, "\x01\x02");
  Raw(key, "Big", reg::REG_DWORD_BIG_ENDIAN, std::string("\x01\x00\x00\x00", 4));
  Raw(key, "Multi", reg::REG_MULTI_SZ, std::string("a\0b\0\0", 5));
  Raw(key, "Exp", reg::REG_EXPAND_SZ, std::string("%HOME%\0", 7));
  Raw(key, "Q", reg::REG_QWORD, std::string(8, '\x01'));
  r.ValueLong("N", 10);

  RegistryValue v;
  EXPECT_EQ(r.GetValue(HKCU, key, "Bin", v), 3);
  EXPECT_EQ(std::get<BoundedArray<uint8_t>>(v), (BoundedArray<uint8_t>{1, 2}));
  EXPECT_EQ(r.GetValue(HKCU, key, "N", v), 4);
  EXPECT_EQ(std::get<int32_t>(v), 10);
  EXPECT_EQ(r.GetValue(HKCU, key, "Big", v), 5);
  EXPECT_EQ(std::get<int32_t>(v), 1);  // no byte swap
  EXPECT_EQ(r.GetValue(HKCU, key, "Multi", v), 7);
  EXPECT_EQ(std::get<std::string>(v), std::string("a\0b\0", 4));
  EXPECT_EQ(r.GetValue(HKCU, key, "Exp", v), 2);
  EXPECT_EQ(std::get<std::string>(v), "%HOME%");
  EXPECT_EQ(r.GetValue(HKCU, key, "", v), 1);  // the default value, stored without terminator
  EXPECT_EQ(std::get<std::string>(v), "default");

  v = int32_t{42};
  EXPECT_EQ(r.GetValue(HKCU, key, "Q", v), 11);  // other types leave Value as it was
  EXPECT_EQ(std::get<int32_t>(v), 42);
  EXPECT_EQ(r.GetValue(HKCU, key, "bin", v), 0);  // names compare with case here
  EXPECT_EQ(r.GetValue(HKCU, key, "Missing", v), 0);
  EXPECT_EQ(std::get<int32_t>(v), 42);
  EXPECT_EQ(r.GetValue(HKCU, "Software\\Nowhere", "N", v), 0);
  r.CreateKey(HKCU, "Software\\Empty");
  EXPECT_EQ(r.GetValue(HKCU, "Software\\Empty", "", v), 0);
}

TEST_F(cRegistryTest, EnumerationsPutTheSubKeyFirst) {
  BoundedArray<std::string> names;
  EXPECT_EQ(r.EnumKeys(HKCU, "Software\\Test", names), 0);
  EXPECT_EQ(names, (BoundedArray<std::string>{"Software\\Test"}));
  r.CreateKey(HKCU, "Software\\Test\\B");
  r.CreateKey(HKCU, "Software\\Test\\A");
  EXPECT_EQ(r.EnumKeys(HKCU, "Software\\Test", names), 2);
  EXPECT_EQ(names, (BoundedArray<std::string>{"Software\\Test", "A", "B"}));

  EXPECT_EQ(r.EnumValues(HKCU, "Software\\Test", names), 0);
  r.ValueLong("Zed", 1);
  r.ValueString("", "x");
  r.ValueLong("Alpha", 2);
  EXPECT_EQ(r.EnumValues(HKCU, "Software\\Test", names), 3);
  EXPECT_EQ(names, (BoundedArray<std::string>{"Software\\Test", "Zed", "", "Alpha"}));

  EXPECT_EQ(r.EnumKeys(HKCU, "Software\\Nowhere", names), 0);
  EXPECT_EQ(names, (BoundedArray<std::string>{"Software\\Nowhere"}));
  EXPECT_EQ(r.EnumKeys(HKCU, "", names), 1);  // the root itself
  EXPECT_EQ(names, (BoundedArray<std::string>{"", "Software"}));
}

TEST_F(cRegistryTest, ExportOfOneKeyIsExact) {
  r.CreateKey(HKCU, "X");
  r.SetStringValue(HKCU, "X", "", "a\\b");
  r.SetDWORDValue(HKCU, "X", "N", 10);
  r.SetBinaryValue(HKCU, "X", "B", {0x01, 0x02});
  r.CreateKey(HKCU, "X\\Sub");
  EXPECT_EQ(r.ExportKey(HKCU, "X"),
            "\r\n[HKEY_CURRENT_USER\\X]\r\n"
            "@=\"a\\\\b\"\r\n"
            "\"N\"=dword:0000000a\r\n"
            "\"B\"=hex:01,02\r\n");
  EXPECT_EQ(r.ExportKey(HKCU, "X\\Sub"), "\r\n[HKEY_CURRENT_USER\\X\\Sub]\r\n");
  EXPECT_EQ(r.ExportKey(HKCU, "Nowhere"), "");
  EXPECT_EQ(r.ExportKey(HKCU, "Nowhere", true), "");
}

TEST_F(cRegistryTest, ExportWithSubKeysIsDepthFirst) {
  r.CreateKey(HKCU, "X\\b\\deep");
  r.CreateKey(HKCU, "X\\A");
  r.SetStringValue(HKCU, "X", "", "a\\b");
  r.SetDWORDValue(HKCU, "X", "N", 10);
  r.SetBinaryValue(HKCU, "X", "B", {0x01, 0x02});
  r.SetDWORDValue(HKCU, "X\\A", "Rate", static_cast<int32_t>(0xFFFFFFFF));
  r.SetStringValue(HKCU, "X\\b\\deep", "Path", "  C:\\Data \"raw\"  ");
  r.SetBinaryValue(HKCU, "X\\b\\deep", "Bytes", {0x0A, 0xFF, 0x00});
  EXPECT_EQ(r.ExportKey(HKCU, "X", true),
            "\r\n[HKEY_CURRENT_USER\\X]\r\n"
            "@=\"a\\\\b\"\r\n"
            "\"N\"=dword:0000000a\r\n"
            "\"B\"=hex:01,02\r\n"
            "\r\n[HKEY_CURRENT_USER\\X\\A]\r\n"
            "\"Rate\"=dword:ffffffff\r\n"
            "\r\n[HKEY_CURRENT_USER\\X\\b]\r\n"
            "\r\n[HKEY_CURRENT_USER\\X\\b\\deep]\r\n"
            "\"Path\"=\"C:\\\\Data \"raw\"\"\r\n"
            "\"Bytes\"=hex:0a,ff,00\r\n");
}

TEST_F(cRegistryTest, ExportOfARootNamesSubKeysWithoutALeadingBackslash) {
  r.CreateKey(HKU, "S-1\\Env");
  r.SetStringValue(HKU, "S-1\\Env", "Lang", "en");
  EXPECT_EQ(r.ExportKey(HKU, "", true),
            "\r\n[HKEY_USERS]\r\n"
            "\r\n[HKEY_USERS\\S-1]\r\n"
            "\r\n[HKEY_USERS\\S-1\\Env]\r\n"
            "\"Lang\"=\"en\"\r\n");
  // Below an open handle, which has no name, the header holds only the path.
  reg::HKEY h = 0;
  ASSERT_EQ(reg::RegOpenKeyExA(reg::HKEY_USERS, "S-1", 0, reg::KEY_READ, &h), 0);
  EXPECT_EQ(r.StringFromHKEY(static_cast<int32_t>(h)), "");
  EXPECT_EQ(r.ExportKey(static_cast<int32_t>(h), "Env"), "\r\n[\\Env]\r\n\"Lang\"=\"en\"\r\n");
  reg::RegCloseKey(h);
}

TEST_F(cRegistryTest, ExportCompletesEveryLineWhateverTheValue) {
  r.CreateKey(HKCU, "Odd");
  Raw("Odd", "Q", reg::REG_QWORD, std::string("\x01\x00\x00\x00\x00\x00\x00\x80", 8));
  Raw("Odd", "None", reg::REG_NONE, "");
  r.SetBinaryValue(HKCU, "Odd", "EmptyBin", BoundedArray<uint8_t>());
  Raw("Odd", "EmptyText", reg::REG_SZ, "");
  Raw("Odd", "Multi", reg::REG_MULTI_SZ, std::string("one\0two\0\0", 9));
  Raw("Odd", "ShortDword", reg::REG_DWORD, "\x05");
  EXPECT_EQ(r.ExportKey(HKCU, "Odd"),
            "\r\n[HKEY_CURRENT_USER\\Odd]\r\n"
            "\"Q\"=hex(b):01,00,00,00,00,00,00,80\r\n"
            "\"None\"=hex(0):\r\n"
            "\"EmptyBin\"=hex:\r\n"
            "\"EmptyText\"=\"\"\r\n"
            "\"Multi\"=\"one\"\r\n"
            "\"ShortDword\"=dword:00000005\r\n");
}

}  // namespace
}  // namespace quillbox
