// The bench served when no bench file is named: one E-270 on USB number 0 with a typical set of
// mezzanines and signals that visibly move.
#include "sim/BenchConfig.h"

namespace quillbox::sim {

const char* DefaultBenchText() {
  return R"json({
  "description": "Built-in bench: one E-270 on USB number 0",
  "modules": [{
    "attach": "usb0",
    "name": "E-270",
    "serial": "27000123",
    "board": "E-270",
    "revision": 1,
    "processor": "ADSP",
    "clock_hz": 24000000,
    "crc_ok": true,
    "slots": [
      {"type": 10, "version": [1, 2], "serial": [5, "A", 1234]},
      {"type": 10, "version": [1, 2], "serial": [5, "A", 1235]},
      {"type": 11, "version": [1, 1], "serial": [5, "B", 2001]},
      {"type": 22, "version": [2, 0], "serial": [6, "C", 311]},
      {"type": 40, "version": [1, 0], "serial": [7, "T", 45]},
      {"type": 31, "version": [1, 3], "serial": [5, "R", 100200]},
      {"type": 9,  "version": [1, 2], "serial": [5, "A", 77]},
      {"type": 21, "version": [2, 1], "serial": [6, "I", 9010]}
    ],
    "signals": {
      "m0":  {"kind": "sine", "amplitude": 5, "frequency": 1},
      "m1":  {"kind": "square", "amplitude": 2, "frequency": 0.5},
      "m2":  {"kind": "sine", "amplitude": 9, "frequency": 0.2, "phase": 90},
      "m3":  {"kind": "noise", "offset": -3, "amplitude": 0.1, "seed": 7},
      "m4":  {"kind": "sine", "offset": 10, "amplitude": 8, "frequency": 0.5},
      "m5":  {"kind": "constant", "value": 12.5},
      "m6":  {"kind": "sine", "offset": 12, "amplitude": 8, "frequency": 0.25},
      "m7":  {"kind": "noise", "offset": 4, "amplitude": 0.05, "seed": 11},
      "m8":  {"kind": "sine", "offset": 10, "amplitude": 20, "frequency": 0.1},
      "m9":  {"kind": "constant", "value": 2.5},
      "m10": {"kind": "sine", "offset": 50, "amplitude": 30, "frequency": 0.05},
      "m11": {"kind": "constant", "value": 75},
      "m12": {"kind": "sine", "amplitude": 0.8, "frequency": 2},
      "m13": {"kind": "square", "amplitude": 0.5, "frequency": 1, "duty": 0.25},
      "m14": {"kind": "sine", "amplitude": 6, "frequency": 0.5, "phase": 180},
      "m15": {"kind": "noise", "amplitude": 1, "seed": 3},
      "ad0": {"kind": "counter"},
      "ad1": {"kind": "sine", "offset": 2.048, "amplitude": 2, "frequency": 0.5},
      "ad2": {"kind": "constant", "value": 1.0},
      "ad3": {"kind": "square", "offset": 2, "amplitude": 1.5, "frequency": 1},
      "ad4": {"kind": "noise", "offset": 3, "amplitude": 0.2, "seed": 5},
      "ad6": {"kind": "sine", "offset": 1, "amplitude": 0.5, "frequency": 3},
      "ad7": {"kind": "constant", "value": 4.0},
      "ttl0": {"kind": "square", "offset": 0.5, "amplitude": 0.5, "frequency": 1},
      "ttl1": {"kind": "square", "offset": 0.5, "amplitude": 0.5, "frequency": 0.25},
      "ttl2": {"kind": "counter"},
      "ttl3": {"kind": "square", "offset": 0.5, "amplitude": 0.5, "frequency": 2, "duty": 0.25},
      "ttl7": {"kind": "constant", "value": 1}
    },
    "dio": {"inputs": 165, "aux": 60, "outputs_to_inputs": false},
    "faults": {"eeprom_unreadable_pages": [], "data_calls_fail": false,
               "dio_calls_fail": false, "unplug_after_s": null}
  }]
}
)json";
}

}  // namespace quillbox::sim
