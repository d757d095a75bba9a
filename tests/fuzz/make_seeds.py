#!/usr/bin/env python3
"""Writes the seed corpora of the harnesses (corpus/<harness>/). Run it again
after a change of an input layout; the files are checked in."""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def sine_counts(n, bits, cycles=10.3, harmonic=0.05):
    top = (1 << bits) - 1
    out = []
    for j in range(n):
        v = 2.0 * math.sin(2 * math.pi * cycles * j / n) + harmonic * 2 * math.sin(
            2 * math.pi * 2 * cycles * j / n)
        out.append(max(0, min(top, round((v / 2 + 2.5) * top / 5))))
    return out


def block_bytes(n, bits):
    counts = sine_counts(n, bits)
    if bits == 8:
        return bytes(counts)
    return b"".join(struct.pack(">H", c) for c in counts)


def raw_block(n, bits, rate=1800, channel=1, window="on", average="off"):
    data = block_bytes(n, bits)
    header = (f"pelkor-raw 1 rate={rate} samples={n} channel={channel} bits={bits} "
              f"window={window} average={average} bytes={len(data)}\n")
    return header.encode() + data


def volts_text(n, crlf=False):
    end = "\r\n" if crlf else "\n"
    lines = ["# volts, one a line"]
    for j in range(n):
        lines.append(f"{3.0 * math.sin(2 * math.pi * 7 * j / n):.6f}")
    return (end.join(lines) + end).encode()


def write(harness, name, data):
    folder = os.path.join(HERE, "corpus", harness)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def event(kind, delay, data=b"", length=None):
    length = len(data) if length is None else length
    return bytes([kind, delay & 0xFF, delay >> 8, length]) + data


def chunks(data, size):
    return [data[i:i + size] for i in range(0, len(data), size)]


def main():
    # --input files
    write("input_reader", "raw8_128", raw_block(128, 8))
    write("input_reader", "raw10_128", raw_block(128, 10, rate=6000, channel=0, window="off",
                                                 average="10"))
    write("input_reader", "raw_two_blocks", raw_block(128, 8) + raw_block(128, 8, average="on"))
    write("input_reader", "volts_128", volts_text(128))
    write("input_reader", "volts_128_crlf", volts_text(128, crlf=True))
    write("input_reader", "bad_header", b"pelkor-raw 1 rate=1800 samples=128 channel=9\n")

    # analysis chain: settings, positions, block
    write("chain", "sine8_128", bytes([0x00, 6 << 3 | 0]) + block_bytes(128, 8))
    write("chain", "sine10_256_nowindow", bytes([0x03, 12 << 3 | 1]) + block_bytes(256, 10))
    write("chain", "sine8_1024_average", bytes([0x48, 6 << 3 | 3]) + block_bytes(1024, 8))
    write("chain", "volts_128", bytes([0x20, 6 << 3 | 0]) +
          b"".join(struct.pack(">h", int(2000 * math.sin(2 * math.pi * 9 * j / 128)))
                   for j in range(128)))

    # the cycle: settings, then events (phase 0 before the start byte)
    settings8 = bytes([0x04, 6 << 3 | 0, 1])  # 8-bit, window off, 128 samples, 1800/s, ch 1
    block8 = block_bytes(128, 8)
    good = settings8 + event(0, 5, b"\x55\xaa") + event(4, 0)
    good += b"".join(event(0, 3, c) for c in chunks(block8, 64))
    write("cycle", "block8_in_pieces", good)
    settings10 = bytes([0x05, 6 << 3 | 1, 3])  # 10-bit, window off, 256 samples, ch 3
    ten = settings10 + event(4, 0) + b"".join(event(1, 2, c) for c in chunks(block_bytes(256, 10), 200))
    ten += event(4, 0) + event(0, 4, b"\x12\x34\x56")  # bytes after the stop byte
    write("cycle", "block10_extra_after_stop", ten)
    write("cycle", "silent_after_start", settings8 + event(4, 0) + event(0, 2500, b"\x80"))
    write("cycle", "vanish_mid_block",
          settings8 + event(4, 0) + event(0, 3, block8[:50]) + event(5, 10))
    write("cycle", "chatter_before_start", settings8 + event(7, 15, length=4) + event(4, 0) +
          event(0, 3, block8))
    write("cycle", "count_lies", settings8 + event(4, 0) + event(6, 1, length=200) +
          event(0, 50, block8))
    # a line that never goes quiet: before the start, and an instrument that ignores the stop
    write("cycle", "chatter_forever_before_start", settings8 + event(7, 3, length=0))
    write("cycle", "stop_ignored", settings8 + event(4, 0) + event(0, 3, block8) + event(4, 0) +
          event(7, 1, length=0))
    write("cycle", "refused_rate", bytes([0x04, 14 << 3 | 0, 1]) + event(4, 0))

    # the INI profile, the same seeds for reading and for edits
    for harness in ("profile_reader", "profile_writer"):
        write(harness, "profile_crlf_comments",
              b"; Pelkor settings\r\n[MyOrvanelAp]\r\nSampleRateSelection=6\r\n"
              b"NumSampleSelection = 3\r\n; the port\r\nOrvanelComPort=3\r\n\r\n"
              b"[Ports]\r\nCOM3=/dev/serial/by-id/usb-FTDI\r\n[Other]\r\nx=\"quoted \"\r\n")
        write(harness, "profile_lf_no_last_line_end",
              b"[myorvanelap]\nChannelSelection=2\n# comment\nOrvanelComPort=12")
        write(harness, "profile_bom_keys_before_section",
              b"\xef\xbb\xbfloose=1\n[Ports]\n\tCOM1 =\t/dev/ttyS0 \n")
        write(harness, "not_an_ini", b"[MyOrvanelAp]\nOrvanelComPort=3\nthis is no key\n\x00\x01")


if __name__ == "__main__":
    main()
