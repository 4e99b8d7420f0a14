#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/ (run from anywhere).

Each seed is a small, valid-looking input in the layout the target's entry function reads, so
that the fuzzer starts from the interesting paths instead of finding the formats by chance."""

import json
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode()
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def text_field(text, width):
    raw = text.encode("latin-1")[:width]
    return raw + b"\0" * (width - len(raw))


def board_page(serial=b"27000123", board="E-270", revision=1, processor="ADSP", clock=24000000):
    page = bytearray(128)
    page[2:11] = serial[:9] + b"\0" * (9 - len(serial[:9]))
    page[11:18] = text_field(board, 7)
    page[18] = revision
    page[19:24] = text_field(processor, 5)
    page[24:28] = struct.pack("<I", clock)
    return bytes(page)


def mezzanine_page(mtype, major=1, minor=0, prefix=5, letter=ord("A"), number=1234):
    page = bytearray(128)
    page[0], page[1], page[2] = major, minor, mtype
    page[6], page[7] = prefix, letter
    page[8:12] = struct.pack("<I", number)
    return bytes(page)


def u16_len(data):
    return struct.pack("<H", len(data)) + data


# ---- descriptor: page 0, SlotPresent[8], pages 1..8, sources[32 x 2], frame[48], name, pattern,
#      flags (bit 0 serial port, bit 1 wrong check sum, bit 2 a byte of unreadable pages follows)
def descriptor(types, board=None, sources=None, flags=0, unreadable=None, name=b"E-270",
               pattern=b"E-270"):
    out = board or board_page()
    out += bytes(types)
    for i, t in enumerate(types):
        out += b"\xff" * 128 if t == 255 else mezzanine_page(t, number=1000 + i)
    if sources is None:
        sources = [(0, i) for i in range(16)] + [(1, i) for i in range(8)] + [(2, i) for i in range(8)]
    out += b"".join(bytes(s) for s in sources)
    out += bytes(range(48))
    out += u16_len(name) + u16_len(pattern)
    out += bytes([flags]) + (bytes([unreadable]) if unreadable is not None else b"")
    return out


default_types = [10, 10, 11, 22, 40, 31, 9, 21]
write("descriptor", "default", descriptor(default_types))
write("descriptor", "empty-slots", descriptor([10, 11, 22, 255, 255, 255, 255, 255]))
write("descriptor", "serial-port", descriptor(default_types, flags=0x31))
write("descriptor", "bad-checksum", descriptor(default_types, flags=2))
write("descriptor", "unreadable", descriptor(default_types, flags=5, unreadable=0x08))
write("descriptor", "odd-texts",
      descriptor([0, 1, 254, 200, 255, 12, 13, 20],
                 board=board_page(b"\x85\xb1\xff9ABCDEF", "\0E-270", 191, "  X ", 0xFFFFFFFF),
                 sources=[(i % 4, (i * 37) % 256) for i in range(32)], pattern=b"E-*#[!0-9]?"))

# ---- bench: JSON text
default_bench_path = os.path.join(HERE, "..", "sim", "DefaultBench.cpp")
with open(default_bench_path) as f:
    src = f.read()
write("bench", "default", src[src.index('R"json(') + 7:src.index(')json"')])
write("bench", "minimal", json.dumps({"modules": [{"attach": "usb0"}]}))
write("bench", "two-usb-same-serial", json.dumps({"modules": [
    {"attach": "usb0", "serial": "27000001"}, {"attach": "usb3", "serial": "27000001"}]}))
write("bench", "serial-ports", json.dumps({"modules": [
    {"attach": "com2", "slots": [{"type": 10}, None, {"type": 40, "version": [3, 4],
                                                       "serial": [9, "Z", 4294967295]}]},
    {"attach": "com8", "crc_ok": False}]}))
write("bench", "faults", json.dumps({"modules": [{
    "attach": "usb1", "name": "E-270", "eeprom": {"0": "00 00 32 37 30", "3": "ff:fe-01"},
    "faults": {"eeprom_unreadable_pages": [2, 8], "data_calls_fail": True,
               "dio_calls_fail": True, "unplug_after_s": 0.5}}]}))
write("bench", "signals", json.dumps({"modules": [{
    "attach": "usb0", "slots": [{"type": 11}, {"type": 9}],
    "signals": {"m0": {"kind": "counter", "start": 65530},
                "m1": {"kind": "sine", "amplitude": 1e300, "frequency": 1e300, "phase": -720},
                "m2": {"kind": "square", "duty": 0, "amplitude": 3},
                "m3": {"kind": "noise", "seed": 18446744073709551615, "amplitude": 2},
                "ad0": {"kind": "constant", "value": -5},
                "ttl7": {"kind": "counter", "start": 4294967295}},
    "dio": {"inputs": 0, "aux": 255, "outputs_to_inputs": True}}]}))
write("bench", "refused", '{"modules": [{"attach": "usb9", "slots": [{"type": 300}]}]}')

# ---- settings: count?, rateMax?, Rate, Channels, default value?, values, sub-keys
def stored(data, type_=None, case_bits=0):
    if data is None:
        return b"\x00"
    if type_ is None:
        return bytes([1 | (4 << 2)]) + u16_len(data) + bytes([case_bits])  # REG_DWORD
    return bytes([3]) + struct.pack("<I", type_) + u16_len(data) + bytes([case_bits])


channels64 = bytes(b for i in range(32) for b in ((0, i) if i < 16 else (1, i - 16) if i < 24
                                                   else (2, i - 24)))
write("settings", "usual", b"\x00\x00" + stored(struct.pack("<f", 25.0)) +
      stored(channels64, 3) + b"\x00\x00\x00")
write("settings", "odd", b"\x01" + struct.pack("<h", 40) + b"\x01" + struct.pack("<f", float("inf"))
      + stored(struct.pack("<f", float("nan")), 1, 0x0F) + stored(bytes(range(70)), 11, 0xAA)
      + b"\x01" + struct.pack("<I", 7) + u16_len(b"a\0b\0\0")
      + b"\x03" + u16_len(b"name\\with\"quote") + b"\x01" + struct.pack("<I", 99) + u16_len(b"\x00\xff")
      + u16_len(b" spaced ") + b"\x01" + struct.pack("<I", 2) + u16_len(b"  C:\\path  ")
      + u16_len(b"\xe9\xc9") + b"\x05" + u16_len(b"") + b"\x02" + struct.pack("<I", 3) + u16_len(b"")
      + b"\x02" + u16_len(b"Sub\\Deeper") + u16_len(b"") + b"\x03" + u16_len(b"\x01\x02")
      + u16_len(b"SUB") + u16_len(b"x") + b"\x04" + u16_len(b"\x0a\x00\x00\x00"))
write("settings", "short", b"\x00\x00" + stored(b"\x00\x00\xc8") + stored(bytes(63), 3))

# ---- host calls: bench flags, unplug tenths, then calls (see HostCallsFuzz.cpp for the codes)
TEST, RATE, STARTR, STOP, TAKEALL, TAKESOME, SLEEP, CHANNELS, DIO = 0, 1, 8, 9, 10, 11, 12, 4, 17


def calls(*parts):
    return bytes(b for p in parts for b in p)


def scan(*chans):
    return bytes([CHANNELS, len(chans)]) + bytes(chans)


def take_some(room):
    return bytes([TAKESOME]) + struct.pack("<H", room) + b"\x00"


def rate(r):
    return bytes([RATE]) + struct.pack("<f", r)


def sleep(n):
    return bytes([SLEEP, n])


write("host_calls", "record", calls(b"\x00\x00", scan(16, 0, 24), rate(100.0), [STARTR],
                                    sleep(50), take_some(90), sleep(50), [TAKEALL], [STOP],
                                    [TAKEALL]))
write("host_calls", "slow-rate", calls(b"\x00\x00", scan(16), rate(2.5), [STARTR], sleep(200),
                                       [TAKEALL], sleep(200), take_some(5), [STOP]))
write("host_calls", "serial-unplug", calls(b"\x09\x05", scan(3, 16, 31), [STARTR], sleep(100),
                                           [18], take_some(1000), [19, TEST, STARTR], sleep(30)))
write("host_calls", "dio", calls(b"\x00\x00", [DIO, 1], struct.pack("<i", 0x1FF), [1],
                                 struct.pack("<i", 7), [16], struct.pack("<i", -1), scan(16),
                                 [STARTR], sleep(10), [20, 0x0F, 21, STARTR, 3, 1],
                                 struct.pack("<i", 5), [STARTR], sleep(40), [23]))
write("host_calls", "odd-arguments", calls(b"\x06\x00", [CHANNELS, 0x85], struct.pack("<i", -7),
                                           bytes([250, 0, 0x20, 0xFF]) * 5, [3, 1],
                                           struct.pack("<i", -5), [STARTR, 6, 0xFF, 0x7F, 7, 15,
                                           0, 0x80, 0x20, 0, 14, 2, 5, 22]))
