#!/usr/bin/env python3
"""Power cuts at random moments of programming, on the emulated ATmega328P.

Each round updates the chip with tarnwick-cli (--fast --no-power-cycle) and kills the
emulator (SIGKILL: a power cut) at a random moment of the programming stream. The chip is
then switched on again from its flash and EEPROM files without a host: no program may start
(a half-written program never runs). Then it is switched on again while the next update's
connection rounds run (at a random moment), and that update must succeed: the flash equal
to the image where the image lies and the bootloader byte for byte, and the program seen
running. The images
alternate between the 14 KiB sample and the small one, so that a cut leaves a mix of two
programs behind.

    bench/chip/power_cut.py [--rounds N] [--seed S]
"""

import argparse
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import chip_bench as cb  # noqa: E402

MCU = "atmega328p"
FLASH = 32768
IMAGES = ["blink-14k-atmega328p", "blink-atmega328p"]


def expected_flash(image):
    with tempfile.NamedTemporaryFile(suffix=".bin") as out:
        subprocess.run(["srec_cat", "(", image, "-intel", cb.boot_hex(MCU), "-intel", ")",
                        "-fill", "0xFF", "0", str(FLASH), "-o", out.name, "-binary"],
                       check=True)
        return open(out.name, "rb").read()


def cut_during_programming(folder, image, rng):
    """Starts an update and cuts the power at a random moment of its programming stream;
    returns how far into the stream the cut came (s), or None when it came too late."""
    chip = cb.Chip(MCU, cb.boot_hex(MCU), folder, "--no-pins")
    argv = [cb.cli_path(), "update", "--port", chip.port, "--yes", "--fast",
            "--no-power-cycle", image]
    proc = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    # The 14 KiB stream takes about 1.3 s, the small one a few ms.
    stream = 1.25 if "14k" in image else 0.015
    delay = rng.uniform(0, stream)
    cut = None
    for raw in proc.stdout:
        line = raw.decode(errors="replace")
        if line.startswith("Programmiere "):
            time.sleep(delay)
            chip.stop(signal.SIGKILL)
            cut = delay
            break
    for _ in proc.stdout:
        pass
    proc.wait()
    if chip.proc.poll() is None:
        chip.stop()
    return cut if proc.returncode != 0 else None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rounds", type=int, default=20)
    parser.add_argument("--seed", type=int, default=int(time.time()))
    args = parser.parse_args()
    rng = random.Random(args.seed)
    folder = tempfile.mkdtemp(prefix="tarnwick-cut-")
    start = cb.boot_start(MCU)
    boot = expected_flash(cb.sample_hex(IMAGES[0]))[start:]
    succeeded = started = boot_changed = cuts = 0
    try:
        for n in range(args.rounds):
            image = cb.sample_hex(IMAGES[n % 2])
            before = open(os.path.join(folder, "flash.bin"), "rb").read() if n else b""
            cut = cut_during_programming(folder, image, rng)
            cuts += cut is not None
            # A cut that came before the stream began leaves the last program whole.
            untouched = n > 0 and open(os.path.join(folder, "flash.bin"), "rb").read() == before
            # Switched on without a host: the bootloader must keep the chip, unless the
            # previous program is still all there. Watched for longer than the bootloader
            # listens after a reset (1.5 s), so that a start after it would be seen.
            chip = cb.Chip(MCU, cb.boot_hex(MCU), folder)
            ran = chip.blinking(3.5)
            chip.stop()
            started += ran and not untouched
            # Switched on during the next update's rounds.
            on = rng.randint(50, 1500)
            chip = cb.Chip(MCU, cb.boot_hex(MCU), folder, "--power-on-delay", str(on))
            code, seconds, said = cb.run_cli(chip.port, image, "--fast", "--no-power-cycle")
            runs = code == 0 and chip.blinking(3)
            chip.stop()
            flash = chip.flash_bytes()
            # Behind the image the flash keeps what was there: only the image is written.
            length = cb.hex_highest(image) + 1
            ok = runs and flash[:length] == expected_flash(image)[:length]
            succeeded += ok
            boot_changed += flash[start:] != boot
            print("round %2d: %s cut %s, program started after the cut: %s, switched on at "
                  "%4d ms, next update %s (%.1f s)" %
                  (n + 1, os.path.basename(image),
                   "%.3f s into the stream" % cut if cut is not None else "too late",
                   ("the old one, untouched" if untouched else "HALF-WRITTEN") if ran else "no",
                   on, "succeeded" if ok else "FAILED", seconds),
                  flush=True)
            if not ok:
                # What the host said, for the failure's reason.
                for line in sorted(said, key=said.get)[-4:]:
                    print("    %6.2f s  %s" % (said[line], line), flush=True)
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    print("seed %d: %d of %d cuts in the stream, %d of %d next updates succeeded, a "
          "half-written program started %d times, boot section changed %d times" %
          (args.seed, cuts, args.rounds, succeeded, args.rounds, started, boot_changed))
    return 0 if succeeded == args.rounds and started == 0 and boot_changed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
