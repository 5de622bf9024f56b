#!/usr/bin/env python3
"""avrdude with optiboot against Tarnwick with its own bootloader, on the same emulated chip,
the same image and baud rate, one after the other: each writes and verifies the image into
a blank chip that is reset when the host opens the port (as an Arduino board's DTR circuit
does, and as optiboot needs). Tarnwick runs as a user starts it: automatic (its default),
with only --no-power-cycle. Then Tarnwick flashes the same image a second time into the
same chip. Prints the times, the ratios, the machine's load, the line limit (the line
time of both streams' bytes) and the flash limit (pages erased and written), and checks
the goals.

Needs the release build (tarnwick-cli, tarnwick-avrsim, the bootloader HEX files and the
samples) and Debian's avrdude and arduino-core-avr. The ATmega8 takes the package's
optiboot HEX as it is at 115200 baud; otherwise optiboot is built again with the package's
Makefile (for the ATmega168 and ATmega328P linked 512 bytes lower: the package's HEX files
run past the end of flash; at 1000000 baud with that rate set).

    bench/chip/compare_optiboot.py [--runs N] [--baud 115200|1000000] [mcu ...]
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import chip_bench as cb  # noqa: E402

OPTIBOOT = "/usr/share/arduino/hardware/arduino/avr/bootloaders/optiboot"
# A page erase and a page write take 4.5 ms each on the emulated chip (the chips' slow end).
PAGE_MS = 4.5 + 4.5
PAGE_BYTES = {"atmega8": 64, "atmega168": 128, "atmega328p": 128}

# mcu: avrdude part, flash bytes, image, optiboot make target and link address (None: the
# package's HEX as it is).
CASES = {
    "atmega8": ("m8", 8192, "blink-7k-atmega8", None, None),
    "atmega168": ("m168", 16384, "blink-14k-atmega168", "atmega168", 0x3C00),
    "atmega328p": ("m328p", 32768, "blink-14k-atmega328p", "atmega328", 0x7C00),
}


def optiboot_hex(mcu, baud, work):
    _, _, _, target, start = CASES[mcu]
    if baud == 115200 and start is None:
        return os.path.join(OPTIBOOT, "optiboot_%s.hex" % mcu)
    target = target or mcu
    src = os.path.join(work, "optiboot-%s-%d" % (target, baud))
    if not os.path.isdir(src):
        shutil.copytree(OPTIBOOT, src)
        os.remove(os.path.join(src, "optiboot_%s.hex" % target))
        # The Makefile's targets set their rate among the compiler's flags.
        makefile = os.path.join(src, "Makefile")
        with open(makefile) as f:
            text = f.read()
        with open(makefile, "w") as f:
            f.write(text.replace("'-DBAUD_RATE=115200'", "'-DBAUD_RATE=%d'" % baud))
        make = ["make", "-s", target]
        if start is not None:
            make.append("LDSECTIONS=-Wl,--section-start=.text=0x%X "
                        "-Wl,--section-start=.version=0x%X" % (start, start + 0x3FE))
        subprocess.run(make, cwd=src, check=True, stdout=subprocess.DEVNULL)
    return os.path.join(src, "optiboot_%s.hex" % target)


def run_avrdude(mcu, image, baud, work):
    part, size, _, _, _ = CASES[mcu]
    folder = tempfile.mkdtemp(dir=work)
    chip = cb.Chip(mcu, optiboot_hex(mcu, baud, work), folder, "--reset-on-open", "--no-pins")
    start = time.monotonic()
    done = subprocess.run(["avrdude", "-q", "-q", "-c", "arduino", "-p", part, "-P", chip.port,
                           "-b", str(baud), "-D", "-U", "flash:w:%s:i" % image],
                          capture_output=True, text=True)
    seconds = time.monotonic() - start
    chip.stop()
    wanted = cb.hex_image(image, size)[:cb.hex_highest(image) + 1]
    ok = done.returncode == 0 and chip.flash_bytes()[:len(wanted)] == wanted
    return ok, seconds


def run_tarnwick(mcu, image, baud, work):
    """Two automatic updates of image into one blank chip; ([ok, ok], [s, s], [automatic])."""
    _, size, _, _, _ = CASES[mcu]
    folder = tempfile.mkdtemp(dir=work)
    variant = "" if baud == 115200 else "-%dbaud" % baud
    chip = cb.Chip(mcu, cb.boot_hex(mcu + variant), folder, "--reset-on-open", "--no-pins")
    wanted = cb.hex_image(image, size)[:cb.hex_highest(image) + 1]
    oks, times, fast = [], [], []
    for _ in range(2):
        code, seconds, seen = cb.run_cli(chip.port, image, "--no-power-cycle", "--baud",
                                         str(baud))
        oks.append(code == 0)
        times.append(seconds)
        fast.append(any(line.startswith("Übertragung: schnell") for line in seen))
    chip.stop()
    oks[-1] = oks[-1] and chip.flash_bytes()[:len(wanted)] == wanted
    return oks, times, fast


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runs", type=int, default=1)
    parser.add_argument("--baud", type=int, default=115200, choices=(115200, 1000000))
    parser.add_argument("mcus", nargs="*", default=["atmega328p"])
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="tarnwick-bench-")
    failed = False
    try:
        for mcu in args.mcus:
            image = cb.sample_hex(CASES[mcu][2])
            data = cb.hex_image(image, CASES[mcu][1])[:cb.hex_highest(image) + 1]
            # Both streams' bytes on the wire, ten bits each; the pages the image spans.
            line = 2 * cb.wire_bytes(data) * 10 / args.baud
            pages = -(-len(data) // PAGE_BYTES[mcu])
            flash = pages * PAGE_MS / 1000
            for _ in range(args.runs):
                load = os.getloadavg()[0]
                a_ok, a_s = run_avrdude(mcu, image, args.baud, work)
                (t_ok, again_ok), (t_s, again_s), fast = run_tarnwick(mcu, image, args.baud,
                                                                      work)
                ok = a_ok and t_ok and again_ok and all(fast)
                goals = [t_s <= 0.6 * a_s, again_s <= 0.5 * t_s or args.baud == 115200]
                if args.baud == 115200:
                    goals.append(t_s <= 1.15 * line + 0.3)
                else:
                    goals.append(t_s < 1.5)
                failed |= not ok or not all(goals)
                print("%-10s %6d B %7d Bd  load %4.1f  avrdude+optiboot %5.2f s%s  "
                      "tarnwick %5.2f s%s (ratio %.2f), again %5.2f s%s (%.2f of the first)  "
                      "line limit %.2f s  flash limit %.2f s (%d pages)  goals %s" %
                      (mcu, len(data), args.baud, load, a_s, "" if a_ok else " FAILED", t_s,
                       "" if t_ok and all(fast) else " FAILED", t_s / a_s, again_s,
                       "" if again_ok else " FAILED", again_s / t_s, line, flash, pages,
                       "met" if all(goals) else "MISSED"), flush=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
