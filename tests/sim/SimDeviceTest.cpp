// The simulated module's descriptor check sum, the module-name request on its device nodes and
// what a query open of a node may do.
#include <cstdlib>
#include <cstring>
#include <string>

#include "SimTestSupport.h"

namespace quillbox::sim::test {
namespace {

using platform::CloseDeviceNode;
using platform::DeviceNodeControl;
using platform::OpenDeviceNode;

TEST_F(SimTest, CheckSumCoversTheWholePage) {
  Device d = OpenUsb(0);
  ASSERT_EQ(E270ReadEEPROM(&d, 0), 0);
  ASSERT_EQ(E270CRCCheck(&d, 0), 0);
  for (const int byte : {3, 60}) {  // the unused tail is covered too
    d.EepromImage[0][byte] ^= 0x01;
    EXPECT_NE(E270CRCCheck(&d, 0), 0) << byte;
    d.EepromImage[0][byte] ^= 0x01;
  }
  E270Close(&d);
}

TEST_F(SimTest, DeviceNodesAnswerOnlyTheModuleNameRequest) {
  LoadBench(R"({"modules": [{"attach": "usb3", "name": "E-270"},
                            {"attach": "usb5", "name": "E14-440X"}]})");
  const uint8_t request[8] = {1, 0, 11, 0, 0, 0, 0, 0};
  const uint8_t otherWords[8] = {1, 0, 12, 0, 0, 0, 0, 0};
  const int32_t h = OpenDeviceNode(NodeName(3));
  ASSERT_NE(h, -1);
  uint8_t out[8];
  std::memset(out, 0xEE, sizeof out);
  uint32_t returned = 0;
  ASSERT_TRUE(DeviceNodeControl(h, 0x220012, request, 8, out, 8, returned));
  EXPECT_EQ(returned, 8u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 8), std::string("E-270\0\0\0", 8));
  EXPECT_FALSE(DeviceNodeControl(h, 0x220016, request, 8, out, 8, returned));
  EXPECT_FALSE(DeviceNodeControl(h, 0x220012, request, 8, out, 4, returned));
  EXPECT_FALSE(DeviceNodeControl(h, 0x220012, otherWords, 8, out, 8, returned));
  ASSERT_TRUE(CloseDeviceNode(h));
  EXPECT_FALSE(DeviceNodeControl(h, 0x220012, request, 8, out, 8, returned));

  const int32_t other = OpenDeviceNode(NodeName(5));
  ASSERT_TRUE(DeviceNodeControl(other, 0x220012, request, 8, out, 8, returned));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 8), "E14-440X");
  CloseDeviceNode(other);
}

// A query open (a listing's) asks the name and reads the descriptor; it never stands in the way
// of a read-write open, and is refused while one exists, also when the module is this process's
// alone (no usable runtime folder).
TEST_F(SimTest, QueryOpensAreNeverInTheWay) {
  const std::string runtime = std::getenv("QUILLBOX_RUNTIME_DIR");
  for (const std::string& folder : {runtime, std::string("/dev/null")}) {
    setenv("QUILLBOX_RUNTIME_DIR", folder.c_str(), 1);
    const auto query = [] { return OpenDeviceNode(NodeName(0), platform::NodeAccess::Query); };
    Device q;
    E270Init(&q);
    q.Handle = query();
    const int32_t second = query();
    ASSERT_NE(int32_t{q.Handle}, -1);
    ASSERT_NE(second, -1);
    Device d = OpenUsb(0);
    ASSERT_NE(int32_t{d.Handle}, -1);
    EXPECT_EQ(query(), -1) << folder;
    EXPECT_EQ(platform::LastNodeOpenError(), platform::NodeOpenError::Busy);

    EXPECT_EQ(E270ReadEEPROM(&q, 0), 0);
    EXPECT_EQ(E270GetConfig(&q), 1);
    EXPECT_EQ(Configure(q, 250), 1);
    EXPECT_EQ(E270SetDIO(&q, 1, 0), 1);
    EXPECT_EQ(Status("usb0").setConfigCalls, 0);

    E270Close(&d);
    CloseDeviceNode(q.Handle);
    CloseDeviceNode(second);
    EXPECT_FALSE(Status("usb0").connected);
  }
  setenv("QUILLBOX_RUNTIME_DIR", runtime.c_str(), 1);
}

}  // namespace
}  // namespace quillbox::sim::test
