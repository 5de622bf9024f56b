#!/usr/bin/env python3
"""avrdude with optiboot against Tarnwick with its own bootloader, on the same emulated chip,
the same image and 115200 baud, one after the other: each writes and verifies the image into
a blank chip that is reset when the host opens the port (as an Arduino board's DTR circuit
does, and as optiboot needs). Prints both times, their ratio and the rate at which
Tarnwick's programming and verification streams crossed the line.

Needs the release build (tarnwick-cli, tarnwick-avrsim, the bootloader HEX files and the
samples) and Debian's avrdude and arduino-core-avr. The ATmega8 takes the package's
optiboot HEX as it is; for the ATmega168 and ATmega328P the package's HEX files run past
the end of flash, so they are built again with the package's Makefile, linked 512 bytes
lower (a boot section of 512 words).

    bench/chip/compare_optiboot.py [--runs N] [mcu ...]
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
LINE_RATE = 115200 / 10  # bytes a second, 8N1

# mcu: avrdude part, flash bytes, image, optiboot make target and link address (None: the
# package's HEX as it is).
CASES = {
    "atmega8": ("m8", 8192, "blink-7k-atmega8", None, None),
    "atmega168": ("m168", 16384, "blink-14k-atmega168", "atmega168", 0x3C00),
    "atmega328p": ("m328p", 32768, "blink-14k-atmega328p", "atmega328", 0x7C00),
}


def optiboot_hex(mcu, work):
    _, _, _, target, start = CASES[mcu]
    if target is None:
        return os.path.join(OPTIBOOT, "optiboot_%s.hex" % mcu)
    src = os.path.join(work, "optiboot-" + target)
    if not os.path.isdir(src):
        shutil.copytree(OPTIBOOT, src)
        os.remove(os.path.join(src, "optiboot_%s.hex" % target))
        sections = "-Wl,--section-start=.text=0x%X -Wl,--section-start=.version=0x%X" % (
            start, start + 0x3FE)
        subprocess.run(["make", "-s", target, "LDSECTIONS=" + sections], cwd=src, check=True,
                       stdout=subprocess.DEVNULL)
    return os.path.join(src, "optiboot_%s.hex" % target)


def run_avrdude(mcu, image, work):
    part, size, _, _, _ = CASES[mcu]
    folder = tempfile.mkdtemp(dir=work)
    chip = cb.Chip(mcu, optiboot_hex(mcu, work), folder, "--reset-on-open", "--no-pins")
    start = time.monotonic()
    done = subprocess.run(["avrdude", "-q", "-q", "-c", "arduino", "-p", part, "-P", chip.port,
                           "-b", "115200", "-D", "-U", "flash:w:%s:i" % image],
                          capture_output=True, text=True)
    seconds = time.monotonic() - start
    chip.stop()
    wanted = cb.hex_image(image, size)[:cb.hex_highest(image) + 1]
    ok = done.returncode == 0 and chip.flash_bytes()[:len(wanted)] == wanted
    return ok, seconds


def run_tarnwick(mcu, image, work):
    _, size, _, _, _ = CASES[mcu]
    folder = tempfile.mkdtemp(dir=work)
    chip = cb.Chip(mcu, cb.boot_hex(mcu), folder, "--reset-on-open", "--no-pins")
    code, seconds, seen = cb.run_cli(chip.port, image, "--fast", "--no-power-cycle")
    chip.stop()
    highest = cb.hex_highest(image)
    wanted = cb.hex_image(image, size)[:highest + 1]
    ok = code == 0 and chip.flash_bytes()[:len(wanted)] == wanted
    on_wire = cb.wire_bytes(wanted)
    rates = []
    for begin, end in (("Programmiere ", "Programmieren erfolgreich beendet"),
                       ("Überprüfe ", "Gespeichertes Programm korrekt übertragen")):
        t0 = min((t for line, t in seen.items() if line.startswith(begin)), default=None)
        t1 = seen.get(end)
        rates.append(on_wire / (t1 - t0) / LINE_RATE if t0 is not None and t1 else 0.0)
    return ok, seconds, rates


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runs", type=int, default=1)
    parser.add_argument("mcus", nargs="*", default=["atmega8", "atmega328p"])
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="tarnwick-bench-")
    failed = False
    try:
        for mcu in args.mcus:
            image = cb.sample_hex(CASES[mcu][2])
            size = cb.hex_highest(image) + 1
            for run in range(args.runs):
                a_ok, a_s = run_avrdude(mcu, image, work)
                t_ok, t_s, (prog, verify) = run_tarnwick(mcu, image, work)
                failed |= not (a_ok and t_ok)
                print("%-10s %6d bytes  avrdude+optiboot %6.2f s%s  tarnwick %6.2f s%s  "
                      "ratio %.2f  stream %3.0f %% / %3.0f %% of the line" %
                      (mcu, size, a_s, "" if a_ok else " FAILED", t_s,
                       "" if t_ok else " FAILED", t_s / a_s, prog * 100, verify * 100),
                      flush=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
