#pragma once
// Values given on the command line: channel lists, 32-bit integers and numbers with units.

#include <cstdint>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace quillbox::cli {

// "0,1,16-18" -> {0, 1, 16, 17, 18}: numbers 0..31 and ascending ranges, in the order given
// (repeats allowed, as in a scan list). False with a reason for anything else.
bool ParseChannelList(const std::string& text, std::vector<int16_t>& channels, std::string& error);

// A signed 32-bit value in decimal, or hexadecimal with 0x (e.g. 0x1A5); values up to
// 0xFFFFFFFF are taken as their 32-bit pattern. False with a reason for anything else.
bool ParseLong(const std::string& text, int32_t& value, std::string& error);

// What a number counts, and so the units it may carry. Every kind takes the SI prefixes k, M
// and G (1k = 1000); a rate may end in Hz (1kHz), a time in ms, s, min, h or d (a bare number
// is seconds), a size in B, kB, MB, GB, TB, KiB, MiB, GiB or TiB (a bare number is bytes).
enum class Quantity { Count, Rate, Time, Size };

// "1k", "10s", "2h", "500MB" -> the number in the kind's own unit (frames, Hz, seconds, bytes).
// Any finite number and sign; false with a reason for anything else.
bool ParseQuantity(const std::string& text, Quantity kind, double& value, std::string& error);

// For an option's value: turns "1k" into "1000" before the option takes it (a plain number
// passes as it is, so the option's own checks still see what was typed), and refuses text that
// is no such quantity. Nothing of it shows in --help.
CLI::Validator QuantityText(Quantity kind);

// "90s", "30min", "1h", "2d" (a bare number is seconds) -> seconds above 0.
bool ParseDuration(const std::string& text, double& seconds, std::string& error);

// "500MB", "1.5GB", "64KiB" -> at least one byte.
bool ParseSize(const std::string& text, uint64_t& bytes, std::string& error);

}  // namespace quillbox::cli
