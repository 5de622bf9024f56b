"""What the benches on the emulated chip share: the built programs, the chip as a child
process on its pty, a timed tarnwick-cli update and the image a HEX file holds."""

import os
import select
import signal
import subprocess
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def build_dir():
    return os.environ.get("TARNWICK_BUILD", os.path.join(ROOT, "build", "release"))


def avrsim_path():
    return os.path.join(build_dir(), "tools", "avrsim", "tarnwick-avrsim")


def cli_path():
    return os.path.join(build_dir(), "src", "cli", "tarnwick-cli")


def boot_hex(mcu):
    return os.path.join(build_dir(), "firmware", "tarnwick-boot-%s.hex" % mcu)


def sample_hex(name):
    return os.path.join(build_dir(), "samples", name + ".hex")


def hex_image(path, size):
    """The bytes a HEX file puts into a flash of size bytes (0xFF elsewhere), by srec_cat."""
    with tempfile.NamedTemporaryFile(suffix=".bin") as out:
        subprocess.run(["srec_cat", path, "-intel", "-fill", "0xFF", "0", str(size),
                        "-o", out.name, "-binary"], check=True)
        return open(out.name, "rb").read()


def hex_range(path):
    """The lowest and highest address a HEX file writes (data records under type 02 and 04
    offsets)."""
    base = 0
    lowest = None
    highest = -1
    for line in open(path):
        line = line.strip()
        if not line.startswith(":"):
            continue
        count, addr, kind = int(line[1:3], 16), int(line[3:7], 16), int(line[7:9], 16)
        if kind == 0 and count > 0:
            lowest = base + addr if lowest is None else min(lowest, base + addr)
            highest = max(highest, base + addr + count - 1)
        elif kind == 2:
            base = int(line[9:13], 16) * 16
        elif kind == 4:
            base = int(line[9:13], 16) << 16
    return lowest, highest


def hex_highest(path):
    return hex_range(path)[1]


def boot_start(mcu):
    """Where the bootloader's section begins: its build links it to the section's start, so
    the section's size follows the build's, not a number kept here."""
    return hex_range(boot_hex(mcu))[0]


class Chip:
    """tarnwick-avrsim running firmware, its flash (and EEPROM) kept in files of folder."""

    def __init__(self, mcu, firmware, folder, *more):
        self.flash = os.path.join(folder, "flash.bin")
        args = [avrsim_path(), "--mcu", mcu, "--flash", self.flash,
                "--eeprom", os.path.join(folder, "eeprom.bin"), "--max-time", "600"]
        args += list(more) + [firmware]
        self.err = open(os.path.join(folder, "avrsim.err"), "ab")
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=self.err)
        self.port = self.proc.stdout.readline().decode().strip()
        if not self.port:
            raise RuntimeError("tarnwick-avrsim printed no port")
        self.lines = []

    def pin_lines(self, seconds):
        """The pin changes the chip reports within seconds."""
        end = time.monotonic() + seconds
        got = []
        while time.monotonic() < end:
            ready, _, _ = select.select([self.proc.stdout], [], [], end - time.monotonic())
            if not ready:
                break
            line = self.proc.stdout.readline().decode()
            if not line:
                break
            got.append(line.split())
        return got

    def blinking(self, seconds):
        """Whether PB0 was seen high and low within seconds: the blink sample runs."""
        values = set()
        end = time.monotonic() + seconds
        while time.monotonic() < end and len(values) < 2:
            for words in self.pin_lines(min(0.5, end - time.monotonic())):
                if len(words) == 3 and words[1] == "PORTB":
                    values.add(int(words[2], 16) & 1)
        return len(values) == 2

    def stop(self, sig=signal.SIGTERM):
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
        self.proc.wait(timeout=10)
        self.err.close()

    def flash_bytes(self):
        return open(self.flash, "rb").read()


def run_cli(port, image, *args, kill_after=None):
    """tarnwick-cli update; returns (exit code, seconds, {line: seconds since start})."""
    argv = [cli_path(), "update", "--port", port, "--yes"] + list(args) + [image]
    start = time.monotonic()
    proc = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    seen = {}
    for raw in proc.stdout:
        seen.setdefault(raw.decode(errors="replace").rstrip("\n"), time.monotonic() - start)
    proc.wait()
    return proc.returncode, time.monotonic() - start, seen


def wire_bytes(data):
    """A stream's bytes on the wire: 0x13 and 0xA5 go out escaped as two."""
    return len(data) + sum(1 for b in data if b in (0x13, 0xA5))
