#!/usr/bin/env python3
"""The Windows window, tarnwick.exe, updates the simulated device under Wine, driven as a
user drives it: clicks and key presses (xdotool) on a real X display (Xvfb with openbox).

Usage: run_wine_window.py tarnwick.exe tarnwick_window_probe.exe tarnwick-devsim BLINK.HEX
                          [SCREENSHOT.png]

The window starts with BLINK.HEX on its command line and must load it. The user types the
device's password, picks 57600 baud, ticks "Kompletten Speicher anzeigen", clicks "Update
starten!", answers the warning with Yes and the switch-off notice with OK; the run must
reach "Gesamtdauer" with no message box of its own, the window staying on top meanwhile
and refusing Alt+F4, and the device's flash must equal the image. Alt+F4 closes the window, which writes Settings.ini beside the program; a second
start, without a file on its command line, must show those choices again and load the
file it names; a file chosen with "Auswählen" in the system's dialog loads next. A logoff
(WM_QUERYENDSESSION) is refused during the update and let through afterwards, saving
Settings.ini. A third start opens a file in a folder whose name Windows-1252 cannot hold:
Settings.ini must turn into UTF-8 with a byte order mark, and a fourth start must read it
back. --version and --help answer on the standard output.

COM1 is mapped (HKLM\\Software\\Wine\\Ports) onto a symlink of this run that points at the
device's pty, and listed in Wine's device registry, so the port box offers it as Windows
would. tarnwick_window_probe.exe reads the window's controls (texts, states, places) from
outside; every click goes where it says the control is. Waits are bounded polls. The
wineprefix is TARNWICK_WINEPREFIX when set, else one of this run's own. Where
tests/cli/wine_tiocmget_shim.c exists it is built and preloaded, so that Wine's serial
waits on the pty sleep as on a real port.

With SCREENSHOT, the window is photographed (import) in the middle of verification.

Exit code: 0 when every check passed, else 1.
"""
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SHIM = os.path.join(HERE, "..", "cli", "wine_tiocmget_shim.c")
PASSWORD = "Tarn"
# The program's folder: its name reaches the window as UTF-16 (the command line, the
# file name field) and Settings.ini as Windows-1252.
FOLDER = "Prüfstand"
MAIN_TITLE = "Tarnwick v. "
# Control ids of the window (src/app/win32/window_layout.h).
ID = {
    "PasswordEdit": 102, "BaudComboBox": 104, "ComComboBox": 106, "SelectInBtn": 201,
    "FilenameInEdit": 203,
    "StartBtn": 204, "ProgramChkBox": 205, "VerifyChkBox": 206, "ShowProgramChkBox": 207,
    "ShowCompleteMemoryChkBox": 208, "CancelButton": 209, "VerifyProgressBar": 306,
    "HintLabel": 401, "InfoMemo": 402, "LogMemo": 403,
    "NoPowerCycleChkBox": 210, "TransferComboBox": 212,
}
IDYES, IDOK = 6, 1
# What a look finds for a control that is not there (the window gone or not yet up).
MISSING = {"text": "", "selection": "", "enabled": False, "checked": False,
           "visible": False, "position": 0, "rect": None}
failures = []


class Abort(Exception):
    """A step failed that the rest of the run builds on."""


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAILED: " + what)
    return ok


def hex_image(path):
    """The bytes an Intel-HEX file writes (data records only; this test's file has no
    extended addresses), from address 0 to its highest."""
    image = {}
    with open(path) as f:
        for line in f:
            record = bytes.fromhex(line.strip()[1:])
            if record[3] == 0:
                address = (record[1] << 8) | record[2]
                for i, byte in enumerate(record[4:4 + record[0]]):
                    image[address + i] = byte
    return bytes(image.get(a, 0xFF) for a in range(max(image) + 1))


def wait_for(what, condition, seconds):
    """Polls condition (returning a true value when met) every 0.2 s, for at most
    seconds; the value. Raises Abort when the time is up."""
    deadline = time.monotonic() + seconds
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            check(False, "timed out waiting for " + what)
            raise Abort(what)
        time.sleep(0.2)


class Session:
    def __init__(self, folder, probe, env):
        self.folder = folder
        self.probe = probe
        self.env = env

    def wine(self, *args, **kwargs):
        return subprocess.run(["wine"] + list(args), env=self.env, timeout=300, **kwargs)

    def windows(self):
        """Tarnwick's top-level windows: {title: (window, [controls])}."""
        out = subprocess.run(["wine", self.probe], env=self.env, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, timeout=60).stdout
        found = {}
        handles = {}
        for line in out.decode("utf-8", "replace").splitlines():
            try:
                item = json.loads(line)
            except ValueError:
                continue
            if "window" in item:
                item["controls"] = []
                found.setdefault(item["title"], item)
                handles[item["window"]] = item
            elif item.get("parent") in handles:
                handles[item["parent"]]["controls"].append(item)
        return found

    def main_window(self, windows=None):
        for title, window in (windows or self.windows()).items():
            if title.startswith(MAIN_TITLE):
                return window
        return None

    def control(self, name, windows=None):
        """The control called name, from windows (one look of windows()) or a new look."""
        window = self.main_window(windows)
        if window is None:
            return MISSING
        return next((c for c in window["controls"] if c["id"] == ID[name]), MISSING)

    def click(self, rect):
        x = (rect[0] + rect[2]) // 2
        y = (rect[1] + rect[3]) // 2
        subprocess.run(["xdotool", "mousemove", "--sync", str(x), str(y), "click", "1"],
                       env=self.env, check=True, timeout=30)

    def click_control(self, name):
        control = wait_for(name, lambda: self.control(name)["rect"] and self.control(name), 30)
        self.click(control["rect"])

    def keys(self, *keys):
        subprocess.run(["xdotool", "key", "--delay", "30"] + list(keys), env=self.env,
                       check=True, timeout=30)

    def type(self, text):
        subprocess.run(["xdotool", "type", "--delay", "30", text], env=self.env, check=True,
                       timeout=30)

    def answer_box(self, title, expected_text, button):
        """Waits for the box titled title, checks its text and clicks its button."""
        def box():
            window = self.windows().get(title)
            if window is None:
                return None
            return window if any(expected_text in c["text"] for c in window["controls"]) \
                else None
        window = wait_for('box "%s" with "%s"' % (title, expected_text), box, 60)
        target = next((c for c in window["controls"] if c["id"] == button), None)
        if not check(target is not None, "button %d in box %s" % (button, title)):
            raise Abort("no button")
        self.click(target["rect"])

    def end_session(self):
        """A logoff as Windows plays it (tarnwick_window_probe.exe endsession): the
        window's answer to WM_QUERYENDSESSION, None without a window."""
        out = subprocess.run(["wine", self.probe, "endsession"], env=self.env,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=120).stdout
        for line in out.decode("utf-8", "replace").splitlines():
            try:
                return json.loads(line)["endsession"]
            except (ValueError, KeyError):
                continue
        return None

    def ask_to_close(self):
        """Alt+F4 on the main window, as a user closes it."""
        xid = subprocess.run(["xdotool", "search", "--name", "^" + MAIN_TITLE], env=self.env,
                             stdout=subprocess.PIPE, timeout=30).stdout.split()
        if not check(bool(xid), "X window of the main window"):
            raise Abort("no X window")
        subprocess.run(["xdotool", "windowactivate", "--sync", xid[0]], env=self.env,
                       timeout=30)
        self.keys("alt+F4")

    def close_main(self, process):
        """Closes the main window; waits for the program to end."""
        self.ask_to_close()
        try:
            process.wait(timeout=60)
        except subprocess.TimeoutExpired:
            check(False, "the window did not close")
            raise Abort("close")


def start_display(env):
    """Xvfb on a free display, and openbox on it; returns the processes."""
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                             "1024x900x24", "-nolisten", "tcp"], pass_fds=(write_end,),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    display = b""
    while not display.endswith(b"\n"):
        chunk = os.read(read_end, 16)
        if not chunk:
            break
        display += chunk
    os.close(read_end)
    env["DISPLAY"] = ":" + display.decode().strip()
    openbox = subprocess.Popen(["openbox"], env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    return [xvfb, openbox]


def build_shim(folder):
    if not os.path.exists(SHIM):
        return None
    shim = os.path.join(folder, "tiocmget_shim.so")
    subprocess.run(["cc", "-shared", "-fPIC", "-O2", "-o", shim, SHIM, "-ldl"], check=True)
    return shim


def run(exe, probe, devsim_path, blink, screenshot, folder):
    image = hex_image(blink)
    app = os.path.join(folder, FOLDER)
    os.makedirs(app)
    shutil.copy(exe, app)
    shutil.copy(blink, app)
    prefix = os.environ.get("TARNWICK_WINEPREFIX") or os.path.join(folder, "prefix")
    # UTF-8 for Unix names and arguments: Wine reads the command line in the locale's
    # character set.
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=", LC_ALL="C.UTF-8")
    helpers = start_display(env)
    devsim = None
    try:
        shim = build_shim(folder)
        if shim:
            env["LD_PRELOAD"] = shim
        flash = os.path.join(folder, "flash.bin")
        devsim = subprocess.Popen([devsim_path.encode(), b"--password", PASSWORD.encode("cp1252"),
                                   b"--flash-out", flash.encode()],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        com1 = os.path.join(folder, "com1")
        os.symlink(devsim.stdout.readline().decode().strip(), com1)

        session = Session(folder, probe, env)
        reg = ["reg", "add"]
        quiet = dict(check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        session.wine(*reg, r"HKLM\Software\Wine\Ports", "/v", "COM1", "/t", "REG_SZ", "/d",
                     com1, "/f", **quiet)
        # A device of its own: a shared prefix may list others (the smoke test's).
        device = r"HKLM\SYSTEM\CurrentControlSet\Enum\ROOT\PORTS\TARNWICK"
        session.wine(*reg, device, "/v", "FriendlyName", "/t", "REG_SZ", "/d",
                     "Kommunikationsanschluss (COM1)", "/f", **quiet)
        session.wine(*reg, device + r"\Device Parameters", "/v", "PortName", "/t", "REG_SZ",
                     "/d", "COM1", "/f", **quiet)
        # The port mapping is read when Wine starts: start it anew.
        subprocess.run(["wineserver", "-k"], env=env, check=False, timeout=60)
        subprocess.run(["wineserver", "-w"], env=env, check=False, timeout=60)
        # Wine's mount manager rewrites dosdevices\com1 from that value only once it runs
        # beside the first program: until then a link of an earlier run stays, so it is
        # pointed here first.
        dosdevice = os.path.join(prefix, "dosdevices", "com1")
        if os.path.lexists(dosdevice):
            os.remove(dosdevice)
        os.symlink(com1, dosdevice)

        exe_path = os.path.join(app, os.path.basename(exe))
        hex_path = os.path.join(app, os.path.basename(blink))
        win_hex = subprocess.run(["winepath", "-w", hex_path], env=env, stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL, timeout=60,
                                 check=True).stdout.decode().strip()
        # --version and --help answer on the standard output, without a window.
        for option, expected in (("--version", "tarnwick "), ("--help", "Aufruf: tarnwick")):
            answer = session.wine(exe_path, option, stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL)
            check(answer.returncode == 0 and
                  answer.stdout.decode("utf-8", "replace").startswith(expected),
                  "%s answers: %r" % (option, answer.stdout[:80]))
        started = time.monotonic()
        window = subprocess.Popen(["wine", exe_path, win_hex], env=env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        # Loaded from the command line: the start button is enabled, the log says so.
        def loaded():
            start = session.control("StartBtn")
            log = session.control("LogMemo")
            return start and log and start["enabled"] and "geladen" in log["text"]
        wait_for("the file on the command line to load", loaded, 120)
        check(session.control("FilenameInEdit")["text"] == win_hex, "file name field")
        port = session.control("ComComboBox")
        check(port["text"].startswith("COM1: "), "COM1 preselected: %r" % port["text"])
        # The two controls beside the form's: automatic speed, with the power cycle.
        check(session.control("TransferComboBox")["selection"] == "automatisch",
              "transfer speed automatic: %r" % session.control("TransferComboBox")["selection"])
        check(not session.control("NoPowerCycleChkBox")["checked"], "power cycle asked for")

        # The user's choices: password, baud rate, the complete memory.
        session.click_control("PasswordEdit")
        session.keys("End", *(["BackSpace"] * 8))
        session.type(PASSWORD)
        session.click_control("BaudComboBox")
        session.keys("Up", "Return")
        session.click_control("ShowCompleteMemoryChkBox")
        def chosen():
            windows = session.windows()
            shown = (session.control("PasswordEdit", windows)["text"],
                     session.control("BaudComboBox", windows)["selection"],
                     session.control("ShowCompleteMemoryChkBox", windows)["checked"])
            if shown == (PASSWORD, "57600", True):
                return True
            print("choices shown:", shown)
            return False
        wait_for("the choices to show", chosen, 60)
        # The complete memory refilled the view: start waits for it.
        wait_for("the refill", lambda: session.control("StartBtn")["enabled"], 60)

        # Neither box ticked: that is said first, before the password no device can
        # receive.
        session.click_control("ProgramChkBox")
        session.click_control("VerifyChkBox")
        session.click_control("PasswordEdit")
        session.keys("End")
        session.type("Ł")
        # xdotool types a character outside the keymap by remapping a key for a moment;
        # on a loaded machine the key can go out before the remapping: type it again.
        def typed():
            text = session.control("PasswordEdit")["text"]
            if text == PASSWORD + "Ł":
                return True
            print("password shown:", text)
            if text == PASSWORD:
                session.type("Ł")
            return False
        wait_for("the password outside Windows-1252", typed, 30)
        session.click_control("StartBtn")
        session.answer_box("Tarnwick", "Der Baustein musst mindestens", IDOK)
        session.click_control("ProgramChkBox")
        session.click_control("VerifyChkBox")
        session.click_control("PasswordEdit")
        session.keys("End", "BackSpace")
        wait_for("the inputs back", lambda: all(session.control(name)["checked"] for name in (
            "ProgramChkBox", "VerifyChkBox")) and session.control("PasswordEdit")["text"] ==
            PASSWORD, 30)

        session.click_control("StartBtn")
        session.answer_box("Tarnwick", "Update wirklich durchführen?", IDYES)
        session.answer_box("Tarnwick", "Schalten Sie nun das Gerät aus", IDOK)
        # Closing and a logoff are refused while the update runs: the run goes on to its
        # end.
        wait_for("the update to run", lambda: session.control("CancelButton")["enabled"], 60)
        session.ask_to_close()
        check(session.end_session() is False, "a logoff during the update refused")
        shot_taken = False
        on_top = []

        def finished():
            nonlocal shot_taken
            windows = session.windows()
            main = session.main_window(windows)
            if main and session.control("StartBtn", windows)["text"] == "Bitte warten!":
                on_top.append(main["topmost"])
            hint = windows.get("Tarnwick - Hinweis")
            if hint:
                texts = " | ".join(c["text"] for c in hint["controls"] if c["text"])
                check(False, "message box during the update: " + texts)
                raise Abort("message box")
            info = session.control("InfoMemo", windows)
            # The picture in the middle of verification, the hint lit.
            if screenshot and not shot_taken and session.control(
                    "VerifyProgressBar", windows)["position"] > 10 and session.control(
                    "HintLabel", windows)["visible"]:
                take_screenshot(env, session, screenshot)
                shot_taken = True
            return info and "Gesamtdauer" in info["text"]
        wait_for("Gesamtdauer", finished, 180)
        print("update in the window: %.1f s from the start of Wine" %
              (time.monotonic() - started))
        check(on_top and all(on_top), "on top of other windows while the update ran")
        check(not session.main_window()["topmost"], "no longer on top after the update")
        info = session.control("InfoMemo")["text"]
        log = session.control("LogMemo")["text"]
        print("InfoMemo:", info.replace("\r\n", " | "))
        print("LogMemo:", log.replace("\r\n", " | "))
        check("Gespeichertes Programm korrekt übertragen" in log, "verified in the log")
        check(session.control("StartBtn")["enabled"] and
              session.control("StartBtn")["text"] == "Update starten", "start button again")
        # A logoff now is let through, and the settings are saved before it.
        settings = os.path.join(app, "Settings.ini")
        check(not os.path.exists(settings), "no Settings.ini before the logoff")
        check(session.end_session() is True, "a logoff when idle let through")
        check(os.path.exists(settings) and b"PasswordEdit=" + PASSWORD.encode() in
              open(settings, "rb").read(), "Settings.ini saved at the logoff")
        session.close_main(window)

        with open(flash, "rb") as f:
            content = f.read()
        check(content[:len(image)] == image, "the device's flash equals the image")
        check(all(b == 0xFF for b in content[len(image):]), "the rest of the flash erased")
        settings = os.path.join(app, "Settings.ini")
        if check(os.path.exists(settings), "Settings.ini beside the program"):
            with open(settings, "rb") as f:
                saved = f.read()
            print("Settings.ini:", saved.decode("cp1252").replace("\r\n", " | "))
            for line in ("PasswordEdit=" + PASSWORD, "FilenameInEdit=" + win_hex,
                         "BaudComboBox=57600", "ComComboBox=COM1", "ShowCompleteMemoryChkBox=1",
                         "BytePacing=50", "PowerCycle=1", "AutoLineSpeed=1"):
                check(line.encode("cp1252") in saved.split(b"\r\n"),
                      "Settings.ini holds %s in Windows-1252" % line)

        # The second start shows the saved choices and loads the saved file.
        window = subprocess.Popen(["wine", exe_path], env=env, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        wait_for("the saved file to load", loaded, 120)
        expected = {"PasswordEdit": PASSWORD, "FilenameInEdit": win_hex}
        for name, text in expected.items():
            check(session.control(name)["text"] == text, "restored " + name)
        check(session.control("BaudComboBox")["selection"] == "57600", "restored baud rate")
        check(session.control("ComComboBox")["text"].startswith("COM1"), "restored port")
        check(session.control("ShowCompleteMemoryChkBox")["checked"], "restored complete memory")
        for name in ("ProgramChkBox", "VerifyChkBox", "ShowProgramChkBox"):
            check(session.control(name)["checked"], "restored " + name)

        # "Auswählen": the system's file dialog; the chosen file loads.
        second = os.path.join(app, "zweite.hex")
        shutil.copy(blink, second)
        win_second = subprocess.run(["winepath", "-w", second], env=env, stdout=subprocess.PIPE,
                                    stderr=subprocess.DEVNULL, timeout=60,
                                    check=True).stdout.decode().strip()
        session.click_control("SelectInBtn")
        wait_for("the file dialog", lambda: subprocess.run(
            ["xdotool", "search", "--name", "^(Open|Öffnen)$"], env=env,
            stdout=subprocess.PIPE, timeout=30).stdout.strip(), 30)
        # The dialog opens in the folder of the file named in the field, with its name
        # preset: the new name replaces it.
        session.keys("ctrl+a")
        session.type(os.path.basename(second))
        session.keys("Return")
        wait_for("the chosen file to load",
                 lambda: '"%s" geladen' % win_second in session.control("LogMemo")["text"] and
                 session.control("FilenameInEdit")["text"] == win_second, 60)
        session.close_main(window)

        # A file whose name Windows-1252 cannot hold: Settings.ini becomes UTF-8 with a
        # byte order mark, and the next start reads it back exactly.
        other = os.path.join(app, "Łódź", "fw.hex")
        os.makedirs(os.path.dirname(other))
        shutil.copy(blink, other)
        win_other = subprocess.run(["winepath", "-w", other], env=env, stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL, timeout=60,
                                   check=True).stdout.decode().strip()
        window = subprocess.Popen(["wine", exe_path, win_other], env=env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for("the file in Łódź to load", loaded, 120)
        session.close_main(window)
        with open(settings, "rb") as f:
            saved = f.read()
        check(saved.startswith(b"\xef\xbb\xbf"), "Settings.ini turned into UTF-8")
        for line in ("FilenameInEdit=" + win_other, "PasswordEdit=" + PASSWORD):
            check(line.encode("utf-8") in saved.split(b"\r\n"),
                  "Settings.ini holds %s in UTF-8" % line)
        window = subprocess.Popen(["wine", exe_path], env=env, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        wait_for("the saved file in Łódź to load", loaded, 120)
        check(session.control("FilenameInEdit")["text"] == win_other, "restored Łódź")
        check(session.control("PasswordEdit")["text"] == PASSWORD, "restored password")

        # A close from outside while the window's box is open waits for the box, and the
        # window closes once it is answered.
        session.click_control("FilenameInEdit")
        session.keys("End")
        session.type("x")
        wait_for("the box of the missing file", lambda: "Tarnwick - Hinweis" in
                 session.windows(), 60)
        session.wine(session.probe, "close", check=True, stdout=subprocess.DEVNULL,
                     stderr=subprocess.DEVNULL)
        windows = session.windows()
        check("Tarnwick - Hinweis" in windows and session.main_window(windows) is not None,
              "the box and the window still there after the close")
        session.answer_box("Tarnwick - Hinweis", "nicht gefunden", IDOK)
        try:
            window.wait(timeout=60)
        except subprocess.TimeoutExpired:
            check(False, "the window closed after the box")
            raise Abort("close")
        check(("FilenameInEdit=" + win_other + "x").encode("utf-8") in
              open(settings, "rb").read().split(b"\r\n"), "saved at the close after the box")
    finally:
        subprocess.run(["wineserver", "-k"], env=env, check=False, timeout=60)
        for process in [devsim] + helpers:
            if process is not None and process.poll() is None:
                process.send_signal(signal.SIGTERM)
                try:
                    process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    process.kill()


def take_screenshot(env, session, path):
    """The main window as it is now, cut out of the screen."""
    window = session.main_window()
    if window is None:
        return
    left, top, right, bottom = window["rect"]
    full = path + ".full.png"
    subprocess.run(["import", "-window", "root", full], env=env, check=True, timeout=60)
    # The title bar is the window manager's: take its frame, the parent of Wine's window.
    xid = subprocess.run(["xdotool", "search", "--name", "^" + MAIN_TITLE], env=env,
                         stdout=subprocess.PIPE, timeout=30).stdout.split()
    crop = "%dx%d+%d+%d" % (right - left, bottom - top, left, top)
    if xid:
        tree = subprocess.run(["xwininfo", "-tree", "-id", xid[0]], env=env,
                              stdout=subprocess.PIPE, timeout=30).stdout.decode()
        parent = re.search(r"Parent window id: (0x[0-9a-f]+)", tree)
        if parent:
            info = subprocess.run(["xwininfo", "-id", parent.group(1)], env=env,
                                  stdout=subprocess.PIPE, timeout=30).stdout.decode()
            values = [int(re.search(pattern + r":\s+(-?\d+)", info).group(1)) for pattern in
                      ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height")]
            crop = "%dx%d+%d+%d" % (values[2], values[3], values[0], values[1])
    subprocess.run(["convert", full, "-crop", crop, "+repage", path], check=True, timeout=60)
    os.remove(full)
    print("screenshot:", path)


def main():
    if len(sys.argv) < 5:
        print(__doc__)
        return 2
    exe, probe, devsim, blink = (os.path.abspath(a) for a in sys.argv[1:5])
    screenshot = os.path.abspath(sys.argv[5]) if len(sys.argv) > 5 else None
    started = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="tarnwick-wine-window-") as folder:
        try:
            run(exe, probe, devsim, blink, screenshot, folder)
        except Abort as abort:
            print("stopped after: %s" % abort)
    print("wine window test: %.1f s" % (time.monotonic() - started))
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("wine window test passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
