#!/usr/bin/env python3
"""Runs the Windows smoke test under Wine with COM1 mapped onto a fresh pty and
a few serial devices written into Wine's device registry.

Usage: run_wine_smoke.py path/to/comport_wine_smoke.exe [path/to/tarnwick-cli.exe]
The wineprefix is TARNWICK_WINEPREFIX when set, else a new one of its own.
Exit code: the smoke test's, or 1 when the far end did not get the bytes or a
port list (the smoke test's, and "tarnwick-cli ports" when given) is not the
expected one.
"""
import os
import pty
import select
import subprocess
import sys
import tempfile

ENUM = r"HKLM\SYSTEM\CurrentControlSet\Enum"
# Device instances: (instance key below Enum, FriendlyName or None, PortName or None
# for an instance without "Device Parameters").
DEVICES = [
    (r"ACPI\PNP0501\1", "Communications Port (COM1)", "COM1"),
    (r"USB\VID_0403&PID_6001\A50285BI", "USB Serial Port (COM3)", "COM3"),
    (r"FTDIBUS\VID_0403+PID_6015+D30A\0000", None, "COM5"),
    # Wine has no configuration for COM12: left out, though COM1 has one.
    (r"USB\VID_067B&PID_2303\6&2A1", "Prolific USB-to-Serial (COM12)", "COM12"),
    (r"ACPI\PNP0400\1", "Printer Port (LPT1)", "LPT1"),
    (r"USB\VID_1A86&PID_7523\5&1", "USB-SERIAL CH340 (COM4)", None),
]
EXPECTED_PORTS = [
    "COM1: Communications Port (COM1) @ ACPI",
    "COM3: USB Serial Port (COM3) @ USB",
    "COM5:  @ FTDIBUS",
]


def add_devices(env) -> None:
    def reg_add(key, name, data):
        subprocess.run(["wine", "reg", "add", ENUM + "\\" + key, "/v", name, "/t", "REG_SZ",
                        "/d", data, "/f"], env=env, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=300)

    for key, friendly_name, port_name in DEVICES:
        if friendly_name is not None:
            reg_add(key, "FriendlyName", friendly_name)
        if port_name is not None:
            reg_add(key + r"\Device Parameters", "PortName", port_name)


def set_dosdevice(prefix: str, name: str, target: str) -> None:
    link = os.path.join(prefix, "dosdevices", name)
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(target, link)


def read_all(master: int) -> bytes:
    """Everything waiting on the master side of the pty; ends when nothing is left (or
    the slave side is closed for good)."""
    received = b""
    while select.select([master], [], [], 0)[0]:
        try:
            chunk = os.read(master, 4096)
        except OSError:  # EIO: no slave open and nothing left
            break
        if not chunk:
            break
        received += chunk
    return received


def check_ports(what: str, ports: list) -> bool:
    if ports == EXPECTED_PORTS:
        return True
    print("FAILED: %s listed %r, expected %r" % (what, ports, EXPECTED_PORTS))
    return False


def main() -> int:
    exe = os.path.abspath(sys.argv[1])
    master, slave = pty.openpty()
    slave_path = os.ttyname(slave)
    os.close(slave)
    with tempfile.TemporaryDirectory(prefix="tarnwick-wine-") as own_prefix:
        # One prefix for all Wine tests of a run when given: a new one is slow to start.
        prefix = os.environ.get("TARNWICK_WINEPREFIX") or own_prefix
        env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", DISPLAY="")
        env["WINEDLLOVERRIDES"] = "mscoree,mshtml="  # no Mono/Gecko prompts
        # A dosdevices symlink is rewritten at start-up; the registry value is not.
        subprocess.run(["wine", "reg", "add", r"HKLM\Software\Wine\Ports", "/v", "COM1",
                        "/t", "REG_SZ", "/d", slave_path, "/f"],
                       env=env, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=300)
        add_devices(env)
        # The port mapping is read when Wine starts: start it anew. Until Wine's mount
        # manager has rewritten dosdevices\com1 from that value, the link of an earlier
        # run stays (another pty, or a real port in a new prefix), and it starts beside
        # the program: the link points at this run's pty before Wine starts.
        subprocess.run(["wineserver", "-w"], env=env, check=False, timeout=300)
        set_dosdevice(prefix, "com1", slave_path)
        proc = subprocess.Popen(["wine", exe], env=env, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT)
        # The far end reads once the program has ended, all that is on the line: what
        # the port wrote must still be there after its Close, however late a loaded
        # machine lets the far end read. (Read while the program ran, the master side
        # also spun on EIO whenever no port was open, taking a core from Wine.)
        try:
            output = proc.communicate(timeout=120)[0].decode(errors="replace")
        except subprocess.TimeoutExpired:
            proc.kill()
            print("wine smoke timed out")
            return 1
        received = read_all(master)
        print(output, end="")
        prefix_len = len("port list: ")
        lists_ok = check_ports("the smoke test", [line[prefix_len:] for line in output.splitlines()
                                                  if line.startswith("port list: ")])
        if len(sys.argv) > 2:
            cli = subprocess.run(["wine", os.path.abspath(sys.argv[2]), "ports"], env=env,
                                 stdout=subprocess.PIPE, timeout=300)
            lists_ok = check_ports("tarnwick-cli ports",
                                   cli.stdout.decode(errors="replace").splitlines()) and lists_ok
            if cli.returncode != 0:
                print("FAILED: tarnwick-cli ports exited with %d" % cli.returncode)
                lists_ok = False
        print("COM1 ->", os.readlink(os.path.join(prefix, "dosdevices", "com1"))
              if os.path.islink(os.path.join(prefix, "dosdevices", "com1")) else "unmapped")
        subprocess.run(["wineserver", "-k"], env=env, check=False)
    if b"hello from wine\n" not in received or b"events\n" not in received:
        print("FAILED: far end got %r" % received)
        return 1
    return proc.returncode if lists_ok else 1


if __name__ == "__main__":
    sys.exit(main())
