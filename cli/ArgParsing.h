#pragma once
// Values given on the command line: channel lists and 32-bit integers.

#include <cstdint>
#include <string>
#include <vector>

namespace quillbox::cli {

// "0,1,16-18" -> {0, 1, 16, 17, 18}: numbers 0..31 and ascending ranges, in the order given
// (repeats allowed, as in a scan list). False with a reason for anything else.
bool ParseChannelList(const std::string& text, std::vector<int16_t>& channels, std::string& error);

// A signed 32-bit value in decimal, or hexadecimal with 0x (e.g. 0x1A5); values up to
// 0xFFFFFFFF are taken as their 32-bit pattern. False with a reason for anything else.
bool ParseLong(const std::string& text, int32_t& value, std::string& error);

// "90s", "30min", "1h", "2d" (s, min, h, d; a bare number is seconds) -> seconds above 0.
bool ParseDuration(const std::string& text, double& seconds, std::string& error);

// "500MB", "1.5GB", "64KiB" (B, kB, MB, GB, TB and KiB, MiB, GiB, TiB) -> bytes above 0.
bool ParseSize(const std::string& text, uint64_t& bytes, std::string& error);

}  // namespace quillbox::cli
