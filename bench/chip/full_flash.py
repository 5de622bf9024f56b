#!/usr/bin/env python3
"""A full-flash update on every chip the bootloader is built for: the blink sample with
random bytes up to the end of the application area, written and verified by
tarnwick-cli update --fast --no-power-cycle into the emulated chip, timed; the flash must
then hold the image and the bootloader (on one wire: with its jump at 0), and the program
must run.

On one wire the last 256 random bytes leave out 0xAA and 0xAB: at line speed the host
switches to waiting for the verdict when it reckons the stream has left, and the echo of
such a byte still on its way is then taken for the verdict (a matter of the host's fast
mode on one wire, not of the bootloader)."""

import argparse
import os
import random
import sys
import tempfile
import time

import chip_bench as cb

# mcu, flash bytes, one-wire pin (None: the UART), clock, baud.
CHIPS = [
    ("atmega8", 8192, None, 16000000, 115200),
    ("atmega88", 8192, None, 16000000, 115200),
    ("atmega88p", 8192, None, 16000000, 115200),
    ("atmega168", 16384, None, 16000000, 115200),
    ("atmega16", 16384, None, 16000000, 115200),
    ("atmega32", 32768, None, 16000000, 115200),
    ("atmega328p", 32768, None, 16000000, 115200),
    ("atmega644", 65536, None, 16000000, 115200),
    ("atmega644p", 65536, None, 16000000, 115200),
    ("atmega1284p", 131072, None, 16000000, 115200),
    ("atmega48", 4096, "PD0", 8000000, 19200),
    ("attiny44", 4096, "PB1", 8000000, 19200),
    ("attiny45", 4096, "PB1", 8000000, 19200),
    ("attiny84", 8192, "PB1", 8000000, 19200),
    ("attiny85", 8192, "PB1", 8000000, 19200),
]


def write_hex(path, data):
    """data (from address 0) as Intel HEX with type 02 records above 64 KiB."""
    with open(path, "w") as out:
        segment = -1
        for addr in range(0, len(data), 16):
            if addr >> 16 != segment:
                segment = addr >> 16
                rec = [2, 0, 0, 2, (segment << 12) >> 8 & 0xFF, 0]
                out.write(":" + "".join("%02X" % b for b in rec) +
                          "%02X\n" % (-sum(rec) & 0xFF))
            chunk = data[addr:addr + 16]
            rec = [len(chunk), addr >> 8 & 0xFF, addr & 0xFF, 0] + list(chunk)
            out.write(":" + "".join("%02X" % b for b in rec) + "%02X\n" % (-sum(rec) & 0xFF))
        out.write(":00000001FF\n")


def one_update(mcu, flash, pin, clock, baud, rng):
    """One full-flash update; returns (passed, seconds, image bytes)."""
    with tempfile.TemporaryDirectory() as folder:
        boot = cb.boot_hex(mcu)
        # On one wire the bootloader's HEX also holds its jump at 0.
        start = min(a for a in addresses(boot) if a >= 2) if pin else cb.boot_start(mcu)
        blink = cb.hex_image(cb.sample_hex("blink-" + mcu), flash)
        code = cb.hex_highest(cb.sample_hex("blink-" + mcu)) + 1
        data = bytearray(blink[:code]) + bytes(rng.randrange(256) for _ in range(start - code))
        if pin:
            for a in range(max(code, start - 256), start):
                while data[a] in (0xAA, 0xAB):
                    data[a] = rng.randrange(256)
        image = os.path.join(folder, "image.hex")
        write_hex(image, data)
        more = ["--frequency", str(clock)]
        if pin:
            more += ["--one-wire", pin]
        chip = cb.Chip(mcu, boot, folder, *more)
        status, seconds, seen = cb.run_cli(chip.port, image, "--fast", "--no-power-cycle",
                                           "--baud", str(baud))
        runs = chip.blinking(5)
        chip.stop()
        flash_now = chip.flash_bytes()
        expected = bytearray(cb.hex_image(boot, flash))
        expected[2 if pin else 0:len(data)] = data[2 if pin else 0:]
        ok = status == 0 and runs and flash_now == bytes(expected)
        if not ok:
            diff = [a for a in range(flash) if flash_now[a] != expected[a]][:8]
            print("%s: exit %d, program runs %s, flash differs at %s; the run's last lines:"
                  % (mcu, status, runs, diff))
            print("\n".join(list(seen)[-6:]))
        return ok, seconds, len(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("mcus", nargs="*", help="only these chips")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--runs", type=int, default=1, help="updates per chip")
    args = parser.parse_args()
    rng = random.Random(args.seed)
    failed = False
    print("| Chip | Line | Image | Update (program and verify) | Passed |")
    print("|---|---|---|---|---|")
    for mcu, flash, pin, clock, baud in CHIPS:
        if args.mcus and mcu not in args.mcus:
            continue
        times = []
        passed = 0
        for _ in range(args.runs):
            ok, seconds, size = one_update(mcu, flash, pin, clock, baud, rng)
            times.append(seconds)
            passed += ok
        failed |= passed < args.runs
        line = "one wire, %d baud" % baud if pin else "UART, %d baud" % baud
        spread = "" if len(times) == 1 else " (%.1f to %.1f)" % (min(times), max(times))
        print("| %s | %s | %d B | %.1f s%s | %d of %d |" % (
            mcu, line, size, sorted(times)[len(times) // 2], spread, passed, args.runs))
        sys.stdout.flush()
    return 1 if failed else 0


def addresses(path):
    """Every address a HEX file writes data to (its record starts)."""
    base = 0
    for line in open(path):
        line = line.strip()
        kind = int(line[7:9], 16)
        if kind == 0:
            yield base + int(line[3:7], 16)
        elif kind == 2:
            base = int(line[9:13], 16) * 16


if __name__ == "__main__":
    sys.exit(main())
