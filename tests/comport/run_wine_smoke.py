#!/usr/bin/env python3
"""Runs the Windows smoke test under Wine with COM1 mapped onto a fresh pty.

Usage: run_wine_smoke.py path/to/comport_wine_smoke.exe
Exit code: the smoke test's, or 1 when the far end did not get the bytes.
"""
import os
import pty
import select
import subprocess
import sys
import tempfile
import time


def main() -> int:
    exe = os.path.abspath(sys.argv[1])
    master, slave = pty.openpty()
    slave_path = os.ttyname(slave)
    os.close(slave)
    with tempfile.TemporaryDirectory(prefix="tarnwick-wine-") as prefix:
        env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", DISPLAY="")
        env["WINEDLLOVERRIDES"] = "mscoree,mshtml="  # no Mono/Gecko prompts
        # A dosdevices symlink is rewritten at start-up; the registry value is not.
        subprocess.run(["wine", "reg", "add", r"HKLM\Software\Wine\Ports", "/v", "COM1",
                        "/t", "REG_SZ", "/d", slave_path, "/f"],
                       env=env, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=300)
        # The port mapping is read when Wine starts: start it anew.
        subprocess.run(["wineserver", "-w"], env=env, check=False, timeout=300)
        proc = subprocess.Popen(["wine", exe], env=env, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT)
        received = b""
        deadline = time.monotonic() + 120
        while proc.poll() is None and time.monotonic() < deadline:
            ready, _, _ = select.select([master], [], [], 0.1)
            if ready:
                try:
                    received += os.read(master, 4096)
                except OSError:
                    pass
        if proc.poll() is None:
            proc.kill()
            print("wine smoke timed out")
            return 1
        output = proc.stdout.read().decode(errors="replace")
        print(output, end="")
        print("COM1 ->", os.readlink(os.path.join(prefix, "dosdevices", "com1"))
              if os.path.islink(os.path.join(prefix, "dosdevices", "com1")) else "unmapped")
        subprocess.run(["wineserver", "-k"], env=env, check=False)
    if b"hello from wine\n" not in received or b"events\n" not in received:
        print("FAILED: far end got %r" % received)
        return 1
    return proc.returncode


if __name__ == "__main__":
    sys.exit(main())
