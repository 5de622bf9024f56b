#!/usr/bin/env python3
"""The Windows tarnwick-cli.exe updates the simulated device under Wine, as a user on
Windows would: through COM1 (and COM2), paced and --fast, one device and two at once, and
with the cable pulled in the middle of programming.

Usage: run_wine_update.py tarnwick-cli.exe tarnwick-devsim tarnwick-cli

COM1 and COM2 are mapped (HKLM\\Software\\Wine\\Ports) onto symlinks of this run, each
pointed at the pty of the device it is to reach, so a new device needs no registry edit.
The same update by the Linux tarnwick-cli is the reference: every device's trace (the bytes
it received, in order) and flash must equal the reference's, and a single device's messages
too. The wineprefix is TARNWICK_WINEPREFIX when set (one prefix for all Wine tests of a run:
Wine's first start in a new prefix is slow), else one of this run's own.

Wine's wait for a serial event asks for the modem lines; a pty has none, so the wait ends
after a few milliseconds and starts again. The paced run takes that as it is, which also
walks the port's way with a port without modem lines; the other runs preload a small shim
(wine_tiocmget_shim.c, built here) that answers the question, so they cost little
processor time. Each run prints its wall time and processor time (the process and
wineserver); nothing is judged by them.

Exit code: 0 when every check passed, else 1.
"""
import os
import signal
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
# The small image of the Linux CLI tests: a paced update of it takes some ten seconds.
IMAGE = bytes([0x0C, 0x94, 0x13, 0x00, 0xA5, 0x11, 0x24, 0xFF, 0x1F, 0xBE])
# Long enough that programming lasts a few seconds paced: the cable is pulled meanwhile.
LONG_IMAGE = bytes(range(256)) * 2
HANG_SECONDS = 120  # a run still going after this hangs
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAILED: " + what)
    return ok


def write_hex(path, data):
    with open(path, "w") as f:
        for address in range(0, len(data), 16):
            chunk = data[address:address + 16]
            record = bytes([len(chunk), address >> 8, address & 0xFF, 0]) + chunk
            f.write(":%s%02X\n" % (record.hex().upper(), -sum(record) & 0xFF))
        f.write(":00000001FF\n")


class Devsim:
    """The simulated device, recording its trace and writing its flash into Folder."""

    def __init__(self, devsim, folder, name):
        self.trace = os.path.join(folder, name + "-trace.txt")
        self.flash = os.path.join(folder, name + "-flash.bin")
        self.proc = subprocess.Popen([devsim, "--trace", self.trace, "--flash-out", self.flash,
                                      "--max-time", "300"], stdout=subprocess.PIPE)
        self.pty = self.proc.stdout.readline().decode().strip()
        if not self.pty:
            raise RuntimeError("tarnwick-devsim printed no port")

    def pull(self):
        self.proc.kill()
        self.proc.wait()

    def stop(self):
        """Ends the device; returns its trace (byte and note a line) and its flash."""
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            self.proc.wait(timeout=30)
        with open(self.trace) as f:
            trace = [line.split(None, 1)[1].strip() for line in f if line.strip()]
        with open(self.flash, "rb") as f:
            return trace, f.read()


class Run:
    """One CLI run, its standard output in a file (Wine's helper processes may keep a pipe
    open long after the program ended); On(line) is called for each line as it comes."""

    def __init__(self, args, out_path, env=None, on_line=None):
        start = time.monotonic()
        self.hung = False
        self.lines = []
        with open(out_path, "wb") as out, open(out_path + ".err", "wb") as err:
            proc = subprocess.Popen(args, env=env, stdin=subprocess.DEVNULL, stdout=out,
                                    stderr=err)
        with open(out_path, "rb") as out:
            pending = b""
            while True:
                pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
                pending += out.read()
                *complete, pending = pending.split(b"\n")
                for raw in complete:
                    self.lines.append(raw.decode("utf-8", "replace").rstrip("\r"))
                    if on_line:
                        on_line(self.lines[-1])
                if pid != 0:
                    break
                if time.monotonic() - start > HANG_SECONDS and not self.hung:
                    self.hung = True
                    proc.kill()
                time.sleep(0.05)
        if pending:
            self.lines.append(pending.decode("utf-8", "replace").rstrip("\r"))
        proc.returncode = self.rc = os.waitstatus_to_exitcode(status)
        with open(out_path + ".err", "rb") as err:
            self.stderr = err.read().decode("utf-8", "replace")
        self.wall = time.monotonic() - start
        self.cpu = usage.ru_utime + usage.ru_stime

    def messages(self):
        """The lines without the duration, which differs from run to run."""
        return [l for l in self.lines if not l.startswith("Gesamtdauer: ")]


class Wine:
    def __init__(self, prefix, links):
        self.prefix = prefix
        self.env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", DISPLAY="",
                        WINEDLLOVERRIDES="mscoree,mshtml=")  # no Mono/Gecko prompts
        self.links = links

    def run(self, *args, **kwargs):
        return subprocess.run(["wine"] + list(args), env=self.env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=600, **kwargs)

    def map_ports(self):
        for name, link in self.links.items():
            # Nothing behind the link until a device is there: COM1 never reaches a real port.
            os.symlink(os.path.join(os.path.dirname(link), "nothing"), link)
            self.run("reg", "add", r"HKLM\Software\Wine\Ports", "/v", name, "/t", "REG_SZ",
                     "/d", link, "/f", check=True)
        # The mapping is read when Wine starts: let it end, then keep one server for the runs
        # so that its processor time can be read.
        quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                     stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=600, **quiet)
        subprocess.run(["wineserver", "-p"], env=self.env, timeout=60, **quiet)
        # Wine's helper processes start with the first program and inherit its output:
        # they start here, with none.
        subprocess.run(["wine", "cmd", "/c", "exit"], env=self.env, timeout=600, **quiet)

    def plug(self, name, device):
        link = self.links[name]
        os.remove(link)
        os.symlink(device.pty, link)

    def server_cpu(self):
        """Processor seconds of this prefix's wineserver so far (it runs in a folder named
        after the prefix's device and inode)."""
        info = os.stat(self.prefix)
        folder = "server-%x-%x" % (info.st_dev, info.st_ino)
        for pid in os.listdir("/proc"):
            try:
                if pid.isdigit() and os.path.basename(os.readlink("/proc/%s/cwd" % pid)) == folder:
                    with open("/proc/%s/stat" % pid) as f:
                        fields = f.read().rsplit(")", 1)[1].split()
                    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
            except OSError:
                continue
        return 0.0

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env, timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def reference(devsim, linux_cli, folder, name, hex_file, flags, result):
    device = Devsim(devsim, folder, "linux-" + name)
    run = Run([linux_cli, "update", "--port", device.pty, "--yes"] + flags + [hex_file],
              os.path.join(folder, "linux-%s.out" % name))
    trace, flash = device.stop()
    result[name] = (run, trace, flash)


def main():
    cli_exe, devsim, linux_cli = (os.path.abspath(a) for a in sys.argv[1:4])
    with tempfile.TemporaryDirectory(prefix="tarnwick-wine-update-") as folder:
        hex_file = os.path.join(folder, "image.hex")
        write_hex(hex_file, IMAGE)
        long_hex = os.path.join(folder, "long.hex")
        write_hex(long_hex, LONG_IMAGE)
        shim = os.path.join(folder, "wine_tiocmget_shim.so")
        subprocess.run(["cc", "-shared", "-fPIC", "-O2", "-o", shim,
                        os.path.join(HERE, "wine_tiocmget_shim.c"), "-ldl"], check=True)

        # The Linux references run while Wine gets its prefix ready.
        refs = {}
        threads = [threading.Thread(target=reference, args=(devsim, linux_cli, folder, name,
                                                             hex_file, flags, refs))
                   for name, flags in (("paced", []), ("fast", ["--fast"]))]
        for t in threads:
            t.start()
        prefix = os.environ.get("TARNWICK_WINEPREFIX") or os.path.join(folder, "prefix")
        wine = Wine(prefix, {"COM1": os.path.join(folder, "com1"),
                             "COM2": os.path.join(folder, "com2")})
        wine.map_ports()
        for t in threads:
            t.join()
        for name, (run, trace, flash) in refs.items():
            if not check(run.rc == 0 and flash.startswith(IMAGE),
                         "Linux reference %s: exit %d\n%s" % (name, run.rc, "\n".join(run.lines))):
                wine.stop()
                return 1

        # name, flags, ports, shim
        cases = [
            ("paced", [], ["COM1"], False),
            ("fast", ["--fast"], ["COM1"], True),
            ("two devices", ["--fast"], ["COM1", "COM2"], True),
        ]
        try:
            for name, flags, ports, with_shim in cases:
                ref_run, ref_trace, ref_flash = refs["fast" if "--fast" in flags else "paced"]
                devices = {}
                for port in ports:
                    devices[port] = Devsim(devsim, folder, "%s-%s" % (name.replace(" ", "-"), port))
                    wine.plug(port, devices[port])
                env = dict(wine.env)
                if with_shim:
                    env["LD_PRELOAD"] = shim
                server_before = wine.server_cpu()
                args = ["update", "--yes"] + flags
                for port in ports:
                    args += ["--port", port]
                run = Run(["wine", cli_exe] + args + [hex_file],
                          os.path.join(folder, name.replace(" ", "-") + ".out"), env=env)
                server = wine.server_cpu() - server_before
                print("%-12s %5.1f s wall, %4.1f s CPU (wineserver %.1f s)%s"
                      % (name, run.wall, run.cpu + server, server,
                         ", shim" if with_shim else ""))
                shown = "\n  ".join(run.lines) + "\n  " + run.stderr
                check(not run.hung, "%s: hung\n  %s" % (name, shown))
                check(run.rc == 0, "%s: exit %d\n  %s" % (name, run.rc, shown))
                if len(ports) == 1:
                    check(run.messages() == ref_run.messages(),
                          "%s: messages differ from the Linux run:\n  %s\nLinux:\n  %s"
                          % (name, "\n  ".join(run.messages()), "\n  ".join(ref_run.messages())))
                for port, device in devices.items():
                    trace, flash = device.stop()
                    check(trace == ref_trace, "%s: %s received %s, the Linux run's device %s"
                          % (name, port, trace, ref_trace))
                    check(flash == ref_flash, "%s: %s flash differs from the Linux run's"
                          % (name, port))

            # The cable pulled in the middle of programming: the run names the failure, closes
            # the port (the duration is the last line, after the close) and ends.
            device = Devsim(devsim, folder, "pulled")
            wine.plug("COM1", device)
            env = dict(wine.env, LD_PRELOAD=shim)

            def pull_at_programming(line):
                if line.startswith("Programmiere "):
                    device.pull()

            run = Run(["wine", cli_exe, "update", "--yes", "--port", "COM1", long_hex],
                      os.path.join(folder, "pulled.out"), env=env, on_line=pull_at_programming)
            print("%-12s %5.1f s wall" % ("pulled", run.wall))
            shown = "\n  ".join(run.lines) + "\n  " + run.stderr
            check(not run.hung, "pulled cable: hung\n  " + shown)
            check(run.rc == 1, "pulled cable: exit %d\n  %s" % (run.rc, shown))
            check(len(run.lines) >= 3 and run.lines[-3].startswith("Programmiere ")
                  and run.lines[-2].startswith("Fehler: ")
                  and run.lines[-1].startswith("Gesamtdauer: "),
                  "pulled cable: no failure message, then the duration:\n  " + shown)
        finally:
            wine.stop()
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
