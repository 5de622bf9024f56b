#!/usr/bin/env python3
"""A hostile host against the project's bootloader on an emulated chip: a programming stream
running past the application section into the boot section, broken escapes, garbage between
commands, a stream cut off. After each the bootloader must take a new connection without a
reset (it never hangs for good): at once, or after the silence that a default run's
switch-off and switch-on waits give. At the end the boot section must be byte for byte what
was flashed, with no write into it even attempted.

    bench/chip/hostile_host.py [--mcu atmega328p] [--seed S]
"""

import argparse
import os
import random
import select
import shutil
import sys
import tempfile
import termios
import time
import tty

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import chip_bench as cb  # noqa: E402

PASSWORD = b"Kiwu"
# mcu: flash bytes, buffer-full bytes (a page; the boot section is the build's)
CHIPS = {"atmega8": (8192, 64), "atmega328p": (32768, 128), "atmega1284p": (131072, 256)}


class Host:
    def __init__(self, port):
        self.fd = os.open(port, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        tty.setraw(self.fd)
        attrs = termios.tcgetattr(self.fd)
        attrs[4] = attrs[5] = termios.B115200
        termios.tcsetattr(self.fd, termios.TCSANOW, attrs)

    def write(self, data):
        data = bytes(data)
        while data:
            select.select([], [self.fd], [], 1)
            try:
                data = data[os.write(self.fd, data):]
            except BlockingIOError:
                pass

    def read(self, seconds, until=None):
        got = b""
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            ready, _, _ = select.select([self.fd], [], [], max(0, end - time.monotonic()))
            if ready:
                try:
                    got += os.read(self.fd, 4096)
                except BlockingIOError:
                    pass
                if until is not None and until in got:
                    break
        return got

    def connect(self, seconds=15):
        """Password rounds as tarnwick-cli sends them (a byte, its 50 ms window and 10 ms of
        listening) until 0xA6, then 0xA5 and 0xAA: the time it took, or None."""
        start = time.monotonic()
        cycle = list(PASSWORD) + [0xFF]
        i = 0
        while time.monotonic() - start < seconds:
            self.write([cycle[i % len(cycle)]])
            i += 1
            if b"\xA6" in self.read(0.06, b"\xA6"):
                self.read(0.05)
                self.write([0xA5])
                if b"\xAA" in self.read(0.5, b"\xAA"):
                    return time.monotonic() - start
        return None

    def close(self):
        os.close(self.fd)


def escaped(data):
    out = bytearray()
    for b in data:
        out += bytes([0xA5, (b + 0x80) & 0xFF]) if b in (0x13, 0xA5) else bytes([b])
    return out


def no_success(data):
    """Garbage without the success command, which would start whatever the flash holds."""
    data = bytearray(data)
    for i in range(1, len(data)):
        if data[i - 1] == 0xA5 and data[i] == 0x05:
            data[i] = 0x06
    return data


def past_the_application(host, rng, flash, boot, buffer):
    """A programming stream of the whole flash, boot section included."""
    host.write([0xA5, 0x04])
    data = bytes(rng.randrange(256) for _ in range(flash))
    for at in range(0, flash, buffer):
        host.write(escaped(data[at:at + buffer]))
        host.read(1.0, b"\xA9")
    host.write([0xA5, 0x80])
    return host.read(2.0, b"\xAA")


def broken_escapes(host, rng, flash, boot, buffer):
    """Escape bytes followed by anything but the three pairs the stream knows."""
    host.write([0xA5, 0x04])
    junk = bytearray()
    for _ in range(buffer * 2):
        junk += bytes([0xA5, rng.choice([0x00, 0x13, 0x7F, 0xA5, 0xFF, 0x05])])
    host.write(junk)
    host.write([0xA5, 0x80])
    return host.read(2.0)


def garbage(host, rng, flash, boot, buffer):
    """Random bytes between commands, then the queries."""
    host.write(no_success(bytes(rng.randrange(256) for _ in range(4096))))
    host.write([0xA5, 0x00, 0xA5, 0x02])
    return host.read(2.0)


def cut_off(host, rng, flash, boot, buffer):
    """A programming stream that stops half-way through a buffer-full."""
    host.write([0xA5, 0x04])
    host.write(escaped(bytes(rng.randrange(256) for _ in range(buffer * 3 // 2))))
    return host.read(1.0)


CASES = [past_the_application, broken_escapes, garbage, cut_off]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--mcu", default="atmega328p", choices=sorted(CHIPS))
    parser.add_argument("--seed", type=int, default=int(time.time()))
    args = parser.parse_args()
    rng = random.Random(args.seed)
    flash, buffer = CHIPS[args.mcu]
    boot = flash - cb.boot_start(args.mcu)
    folder = tempfile.mkdtemp(prefix="tarnwick-hostile-")
    failed = False
    try:
        chip = cb.Chip(args.mcu, cb.boot_hex(args.mcu), folder, "--no-pins")
        host = Host(chip.port)
        took = host.connect()
        print("first connection: %s" % ("%.2f s" % took if took is not None else "NONE"))
        failed |= took is None
        for case in CASES:
            case(host, rng, flash, boot, buffer)
            # At once, as "update --no-power-cycle" does; failing that, after the silence
            # of a default run's switch-off and switch-on waits.
            took = host.connect()
            later = None
            if took is None:
                time.sleep(2.5)
                later = host.connect()
            failed |= took is None and later is None
            if took is not None:
                result = "at once, after %.2f s" % took
            elif later is not None:
                result = "not at once; after 2.5 s of silence in %.2f s" % later
            else:
                result = "NEVER (hangs)"
            print("%-22s then connected again %s" % (case.__name__, result), flush=True)
        host.close()
        chip.stop()
        wanted = cb.hex_image(cb.boot_hex(args.mcu), flash)[flash - boot:]
        same = chip.flash_bytes()[flash - boot:] == wanted
        said = open(os.path.join(folder, "avrsim.err")).read()
        refused = ", 0 Zugriffe auf den Bootbereich abgewiesen" not in said
        failed |= not same or refused
        print("seed %d: boot section %s; writes into it attempted: %s" %
              (args.seed, "unchanged" if same else "CHANGED", "YES" if refused else "none"))
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
