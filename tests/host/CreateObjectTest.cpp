#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "quillbox/CreateObject.h"
#include "quillbox/IADC3.h"
#include "quillbox/IDIO.h"
#include "quillbox/IE_270.h"
#include "quillbox/Tools.h"

namespace quillbox {
namespace {

TEST(CreateObject, LoadsTheComponentAsAHostWould) {
  Object object = CreateObject("Quillbox.E_270");
  ASSERT_TRUE(object);
  auto adc = As<IADC3>(object);
  auto dio = As<IDIO>(object);
  auto self = As<IE_270>(object);
  ASSERT_TRUE(adc && dio && self);
  EXPECT_EQ(adc->ADCName(), "E-270");
  EXPECT_EQ(As<IADC3>(self->GetADC3()).get(), adc.get());
  EXPECT_EQ(As<IDIO>(self->GetDIO()).get(), dio.get());
}

TEST(CreateObject, ObjectsOfOneProcessShareTheDriverState) {
  Object a = CreateObject("Quillbox.E_270");
  Object b = CreateObject("Quillbox.E_270");
  As<IDIO>(a)->DOStopValue(0x55);
  EXPECT_EQ(As<IDIO>(b)->DOStopValue(), 0x55);
  As<IDIO>(a)->DOStopValue(0);
}

TEST(CreateObject, TheComponentBesideTheProgramComesBeforeQuillboxComponent) {
  namespace fs = std::filesystem;
  // The test program sits beside the built component; the variable names another file.
  const fs::path other =
      fs::temp_directory_path() / ("quillbox-other-" + std::to_string(getpid()) + ".adc");
  std::ofstream(other) << "not a component";
  setenv("QUILLBOX_COMPONENT", other.c_str(), 1);
  const std::string found = FindComponent("Quillbox.E_270");
  unsetenv("QUILLBOX_COMPONENT");
  fs::remove(other);
  EXPECT_EQ(found, (fs::read_symlink("/proc/self/exe").parent_path() / "Quillbox.adc").string());
}

TEST(CreateObject, UnknownIdentifierIsAClearError) {
  EXPECT_THROW(CreateObject("Other.E_270"), CreateObjectError);
}

TEST(CreateObject, ComponentExportsItsTools) {
  auto get = reinterpret_cast<ITools* (*)()>(ComponentSymbol("Quillbox.E_270", "QuillboxTools"));
  ASSERT_NE(get, nullptr);
  EXPECT_EQ(get()->ComponentVersion(), "3.2.0.4");
}

}  // namespace
}  // namespace quillbox
