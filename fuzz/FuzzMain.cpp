// libFuzzer driver of one target; QUILLBOX_FUZZ_ENTRY names its entry function.

#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  quillbox::fuzz::PrepareProcess();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  return quillbox::fuzz::QUILLBOX_FUZZ_ENTRY(data, size);
}
