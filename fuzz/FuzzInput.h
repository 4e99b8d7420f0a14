#pragma once
// Reads typed values from a fuzz input, front to back. Once the bytes run out every read
// returns zeros (or empty data), so any input decodes into some sequence of values.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace quillbox::fuzz {

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool empty() const { return pos_ >= size_; }
  std::size_t remaining() const { return size_ - pos_; }

  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : uint8_t{0}; }
  bool Bool() { return (Byte() & 1) != 0; }
  uint16_t U16() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
  int16_t I16() { return static_cast<int16_t>(U16()); }
  uint32_t U32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t{Byte()} << (8 * i);
    return v;
  }
  int32_t I32() { return static_cast<int32_t>(U32()); }
  // Any bit pattern, NaNs and infinities included.
  float Float() {
    const uint32_t bits = U32();
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
  }
  // 0 .. n - 1 (0 when n is 0).
  uint32_t Below(uint32_t n) { return n == 0 ? 0 : U32() % n; }
  uint8_t ByteBelow(uint8_t n) { return n == 0 ? 0 : static_cast<uint8_t>(Byte() % n); }

  // Up to `max` bytes: a length byte pair, then that many bytes (fewer at the end of the input).
  std::vector<uint8_t> Bytes(std::size_t max) {
    std::size_t n = U16() % (max + 1);
    if (n > remaining()) n = remaining();
    std::vector<uint8_t> out(data_ + pos_, data_ + pos_ + n);
    pos_ += n;
    return out;
  }
  std::string Text(std::size_t max) {
    const std::vector<uint8_t> b = Bytes(max);
    return std::string(b.begin(), b.end());
  }
  // Exactly `n` bytes, zero-filled past the end of the input.
  void Fill(uint8_t* out, std::size_t n) {
    const std::size_t have = n < remaining() ? n : remaining();
    if (have > 0) std::memcpy(out, data_ + pos_, have);
    if (have < n) std::memset(out + have, 0, n - have);
    pos_ += have;
  }
  // The rest of the input.
  std::string Rest() {
    std::string out(reinterpret_cast<const char*>(data_ + pos_), remaining());
    pos_ = size_;
    return out;
  }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// A broken property of the code under test: reported like a crash, so that the fuzzer keeps
// the input and the regression replay fails.
[[noreturn]] inline void Violation(const char* what, const char* file, int line) {
  std::fprintf(stderr, "fuzz check failed at %s:%d: %s\n", file, line, what);
  std::abort();
}

}  // namespace quillbox::fuzz

#define FUZZ_CHECK(cond)                                                 \
  do {                                                                   \
    if (!(cond)) ::quillbox::fuzz::Violation(#cond, __FILE__, __LINE__); \
  } while (0)
