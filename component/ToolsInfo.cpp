#include "component/ToolsInfo.h"

#include <charconv>
#include <string>

#include <nlohmann/json.hpp>

#include "device/Enumeration.h"
#include "driver/DriverState.h"

namespace quillbox {
namespace {

using json = nlohmann::ordered_json;

// A float as the shortest decimal that reads back as the same float (1638.4, not
// 1638.4000244140625), held as a double.
double Natural(float value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  double result = value;
  std::from_chars(text, end, result);
  return result;
}

std::string Scalar(const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }

// One line with ", " and ": " between the items: {"name": "E-270", "revision": "A"}.
std::string Inline(const json& j) {
  std::string out;
  const char* sep = "";
  if (j.is_object()) {
    out += '{';
    for (const auto& [key, value] : j.items()) {
      out += sep + Scalar(key) + ": " + Inline(value);
      sep = ", ";
    }
    return out + '}';
  }
  if (j.is_array()) {
    out += '[';
    for (const auto& value : j) {
      out += sep + Inline(value);
      sep = ", ";
    }
    return out + ']';
  }
  return Scalar(j);
}

// An array of objects one per line, indented by `indent`.
std::string Rows(const json& array, const std::string& indent) {
  if (array.empty()) return "[]";
  std::string out = "[\n";
  for (std::size_t i = 0; i < array.size(); ++i) {
    out += indent + "  " + Inline(array[i]) + (i + 1 < array.size() ? ",\n" : "\n");
  }
  return out + indent + "]";
}

// Top-level keys one per line; arrays of objects one row per line, everything else inline.
std::string Layout(const json& j) {
  if (j.is_array()) return Rows(j, "");
  std::string out = "{\n";
  std::size_t i = 0;
  for (const auto& [key, value] : j.items()) {
    out += "  " + Scalar(key) + ": ";
    const bool rows = value.is_array() && !value.empty() && value.front().is_object();
    out += rows ? Rows(value, "  ") : Inline(value);
    out += ++i < j.size() ? ",\n" : "\n";
  }
  return out + "}";
}

}  // namespace

std::string DevicesJsonText() {
  DriverState& s = State();
  const bool inUse = s.Acq.Busy.load() || (s.Dev.Handle != -1 && s.Dev.Handle != 0);
  if (!inUse) EnumerateDevices(s.Dev, s, "E-270");
  return ListedDevicesJsonText();
}

std::string ListedDevicesJsonText() {
  const DriverState& s = State();
  json list = json::array();
  for (const DeviceEntry& e : s.Devices) {
    list.push_back({{"device", e.DeviceIndex},
                    {"port", e.PortName},
                    {"board", e.BoardName},
                    {"serial", e.SerialNumber}});
  }
  return Layout(list);
}

std::string InfoJsonText() {
  const DriverState& s = State();
  json j;
  j["detected"] = s.Detected;
  j["last_error"] = s.Adc.LastError;
  j["base_port"] = s.BasePort;
  j["board"] = {{"name", s.Board.BoardName},          {"revision", s.Board.BoardRevision},
                {"port", s.Board.PortName},           {"serial", s.Board.SerialNumber},
                {"processor", s.Board.ProcessorName}, {"clock_hz", s.Board.ClockFrequency}};

  json slots = json::array();
  for (std::size_t i = 0; i < s.Modules.size(); ++i) {
    const ModuleSlot& m = s.Modules[i];
    slots.push_back(
        {{"slot", i + 1},
         {"type", m.ModuleType},
         {"name", m.ModuleName},
         {"version", std::to_string(m.VersionMajor) + "." + std::to_string(m.VersionMinor)},
         {"serial", m.ModuleSerial},
         {"range", m.RangeText},
         {"unit", m.UnitName},
         {"scale", Natural(m.Scale)},
         {"offset", m.Offset}});
  }
  j["slots"] = slots;

  const ChannelTables& t = s.Adc.Tables;
  json ranges = json::array();
  for (std::size_t i = 0; i < t.Ranges.size(); ++i) {
    ranges.push_back({{"text", t.Ranges[i]},
                      {"unit", i < t.UnitNames.size() ? t.UnitNames[i] : std::string()},
                      {"scale", i < t.UnitScales.size() ? Natural(t.UnitScales[i]) : 0.0}});
  }
  j["ranges"] = ranges;

  json channels = json::array();
  for (std::size_t ch = 0; ch < t.ChannelNames.size(); ++ch) {
    channels.push_back(
        {{"channel", ch}, {"name", t.ChannelNames[ch]}, {"range", t.ChannelRanges[ch]}});
  }
  j["channels"] = channels;

  j["dio"] = {{"detected", s.Dio.DIODetected},
              {"di_bits", s.Dio.DIBits},
              {"do_bits", s.Dio.DOBits},
              {"di", s.Dio.DIValue},
              {"do", s.Dio.DOValue}};
  return Layout(j);
}

}  // namespace quillbox
