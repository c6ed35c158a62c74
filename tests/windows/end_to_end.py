#!/usr/bin/env python3
"""The installed Windows program under Wine, end to end.

Installs the installer silently for the current user into the Wine prefix in
WINEPREFIX, maps COM1 to a pseudo-terminal, and drives talvern.exe on an Xvfb
display with real X input (clicks at the controls' places, typed keys). Results
are judged from the capture file, the pseudo-terminal and exit statuses, never
from pixels: under Wine a Qt window is drawn once and not repainted. Then the
portable zip captures from a folder of its own, installs for all users and for
the current user replace each other, and a signed build's files carry their
signatures, which verify against the certificate that signed them.

    end_to_end.py INSTALLER ZIP SIGNED_INSTALLER SIGNING_CERT WORK_DIR
"""

import fcntl
import getpass
import os
import pty
import re
import statistics
import subprocess
import sys
import tempfile
import termios
import threading
import time
import tty
import zipfile

from resources import ICON_SIZES, icon_sizes

INSTALLER, ZIP, SIGNED_INSTALLER, SIGNING_CERT = sys.argv[1:5]
WORK = os.path.abspath(sys.argv[5])
PREFIX = os.environ["WINEPREFIX"]
DRIVE_C = os.path.join(PREFIX, "drive_c")
PROFILE = os.path.join(DRIVE_C, "users", getpass.getuser())
# Where each way of installing puts the program and its Start menu entry, the
# registry file (of the Wine prefix) that holds its uninstall entry, and the
# program as Windows names it.
INSTALL_MODES = {
    "CurrentUser": (os.path.join(PROFILE, "AppData", "Local", "Programs", "TALVERN"),
                    os.path.join(PROFILE, "AppData", "Roaming", "Microsoft", "Windows",
                                 "Start Menu", "Programs", "TALVERN", "TALVERN.lnk"),
                    "user.reg"),
    "AllUsers": (os.path.join(DRIVE_C, "Program Files", "TALVERN"),
                 os.path.join(DRIVE_C, "ProgramData", "Microsoft", "Windows",
                              "Start Menu", "Programs", "TALVERN", "TALVERN.lnk"),
                 "system.reg"),
}
# The folder each way's Start menu entry starts the program in: the user's
# Documents, or for all users the Documents they share.
DOCUMENTS = {"CurrentUser": os.path.join(PROFILE, "Documents"),
             "AllUsers": os.path.join(DRIVE_C, "users", "Public", "Documents")}
INSTALL_DIR = INSTALL_MODES["CurrentUser"][0]
PROGRAM = r"C:\users\%s\AppData\Local\Programs\TALVERN\talvern.exe" % getpass.getuser()
INSTALLED_PARTS = ["talvern.exe", "uninstall.exe", "platforms/qwindows.dll",
                   "styles/qwindowsvistastyle.dll", "Qt6Widgets.dll"]

# The window's client area and its controls' centres, in pixels (the window is
# laid out in twips, 15 to a pixel).
CLIENT = (336, 345)
FILE_NAME_BOX = (224, 60)   # Text2
START = (100, 304)          # Command1, "Ready to upload data"
ABORT = (216, 304)          # Command3
EXIT = (284, 304)           # Command2
COM2 = (52, 56)             # Option2, on its button

failures = []


class Failure(Exception):
    pass


def log(message):
    print(message, flush=True)


def check(condition, what):
    log(("ok   " if condition else "FAIL ") + what)
    if not condition:
        failures.append(what)


def wait_for(what, predicate, timeout):
    """Polls `predicate` until it gives a true value, for at most `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure(f"timed out after {timeout} s waiting for {what}")
        time.sleep(0.05)


def run(*args, timeout=120, check_status=True, errors_apart=False):
    # Output through a file, not a pipe: a process Wine starts on the way (its
    # server, the desktop) may keep a pipe open long after this one has ended.
    # With errors_apart, what the command says on stderr is left out.
    with tempfile.TemporaryFile() as output:
        errors = subprocess.DEVNULL if errors_apart else subprocess.STDOUT
        status = subprocess.run(args, stdout=output, stderr=errors,
                                timeout=timeout).returncode
        output.seek(0)
        text = output.read().decode(errors="replace")
    if check_status and status != 0:
        raise Failure(f"{' '.join(args)} ended with {status}: {text[-2000:]}")
    return text


def run_twice(*args, timeout=120):
    """Runs a Wine program, and once more if it fails. Now and then a Wine
    program started right after another one ended exits at once, saying
    nothing (reg, the test suite); the retry is logged."""
    try:
        return run(*args, timeout=timeout)
    except Failure as failure:
        log(f"     starting again: {failure}")
        return run(*args, timeout=timeout)


def map_com1(device):
    """Maps COM1 to `device` in the prefix's registry file, as
    `reg add HKLM\\Software\\Wine\\Ports /v COM1` would, without starting a
    Wine program for it. The server must be stopped: it writes the file when it
    stops and reads it when it starts, which is also when Wine reads its ports."""
    path = os.path.join(PREFIX, "system.reg")
    with open(path, encoding="latin-1") as f:
        lines = f.read().split("\n")
    value = f'"COM1"="{device}"'
    header = next((i for i, text in enumerate(lines)
                   if text.startswith("[Software\\\\Wine\\\\Ports]")), None)
    if header is None:
        lines += [f"[Software\\\\Wine\\\\Ports] {int(time.time())}", value, ""]
    else:
        # The key's own comment lines (#time=...) stay right below its name.
        at = header + 1
        while at < len(lines) and lines[at].startswith("#"):
            at += 1
        lines.insert(at, value)
    with open(path, "w", encoding="latin-1") as f:
        f.write("\n".join(lines))


def start_wine_server():
    # One server for the whole test, its output nowhere.
    subprocess.Popen(["wineserver", "--persistent"], stdout=subprocess.DEVNULL,
                     stderr=subprocess.DEVNULL).wait(timeout=30)


def read_file(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def windows_path(path):
    """The Windows name of a path: C:\\... inside the prefix's drive C, else Z:\\..."""
    if path.startswith(DRIVE_C + "/"):
        return "C:" + path[len(DRIVE_C):].replace("/", "\\")
    return "Z:" + path.replace("/", "\\")


def stop_wine_server():
    """Stops the server, which then writes the registry files; anything still
    running in Wine ends with it."""
    run("wineserver", "-k", check_status=False)
    run("wineserver", "-w")


def uninstall_entry(registry_file):
    """The folder the program's uninstall entry names in one of the prefix's
    registry files (user.reg: HKCU, system.reg: HKLM), or None. The server must
    be stopped: it writes the files when it stops."""
    with open(os.path.join(PREFIX, registry_file), encoding="latin-1") as f:
        text = f.read()
    key = "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\TALVERN]"
    at = text.find(key)
    if at < 0:
        return None
    found = re.search(r'^"InstallLocation"="(.*)"$', text[at:].split("\n\n")[0], re.M)
    return found.group(1).replace("\\\\", "\\") if found else ""


def signature(path):
    """Which signature `path` carries: "none", "verified" (one that verifies
    against the test's own certificate) or "other"."""
    done = subprocess.run(["osslsigncode", "verify", "-CAfile", SIGNING_CERT, "-in", path],
                          capture_output=True, text=True)
    if done.returncode == 0:
        return "verified"
    return "none" if "No signature found" in done.stdout + done.stderr else "other"


def wait_uninstaller():
    """The uninstaller runs from a copy of itself in the temporary folder, and
    the one started ends at once: waits for that copy to end."""
    def copy_running():
        for pid in os.listdir("/proc"):
            try:
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    if b"~nsu" in f.read():
                        return True
            except OSError:
                pass
        return False
    wait_for("the uninstaller to end", lambda: not copy_running(), 120)


class Line:
    """The pseudo-terminal behind COM1: the test writes the instrument's side."""

    def __init__(self):
        self.master, self.slave = pty.openpty()
        # The slave stays open all along: closing it would hang the line up.
        tty.setraw(self.slave)
        self.path = os.ttyname(self.slave)

    def send(self, data):
        os.write(self.master, data)

    def waiting(self):
        """Bytes sent that nobody has read yet."""
        return int.from_bytes(fcntl.ioctl(self.slave, termios.FIONREAD, b"\0\0\0\0"), "little")

    def held_by_program(self):
        """Whether a process other than this one has the line open."""
        me = str(os.getpid())
        for pid in os.listdir("/proc"):
            if not pid.isdigit() or pid == me:
                continue
            try:
                fds = os.listdir(f"/proc/{pid}/fd")
            except OSError:
                continue
            for fd in fds:
                try:
                    if os.readlink(f"/proc/{pid}/fd/{fd}") == self.path:
                        return True
                except OSError:
                    pass
        return False


class Display:
    def __init__(self):
        read_end, write_end = os.pipe()
        self.server = subprocess.Popen(
            # -noreset: by default the server resets when its last client
            # leaves, and drops a client that connected in that moment (a
            # program started right after another one ended).
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
             "-nolisten", "tcp", "-noreset"], pass_fds=(write_end,),
            stderr=open(os.path.join(WORK, "xvfb.log"), "wb"))
        os.close(write_end)
        number = b""
        while not number.endswith(b"\n"):
            chunk = os.read(read_end, 16)
            if not chunk:
                raise Failure("Xvfb did not start")
            number += chunk
        os.close(read_end)
        os.environ["DISPLAY"] = ":" + number.decode().strip()

    def close(self):
        self.server.terminate()
        self.server.wait(timeout=30)


def xdotool(*args, errors_apart=False):
    return run("xdotool", *args, timeout=30, check_status=False,
               errors_apart=errors_apart).strip()


class Program:
    """One run of the installed talvern.exe and its window."""

    def __init__(self, name, program=PROGRAM):
        self.log = open(os.path.join(WORK, name + ".log"), "wb")
        env = dict(os.environ, QT_FORCE_STDERR_LOGGING="1")
        for attempt in (1, 2):
            self.process = subprocess.Popen(["wine", program], stdout=self.log,
                                            stderr=subprocess.STDOUT, env=env)
            try:
                self.window = wait_for("the window", self.find_window, 90)
                break
            except Failure as failure:
                if attempt == 2 or self.process.poll() is None:
                    raise
                log(f"     starting again: {failure}")
        shell = xdotool("getwindowgeometry", "--shell", self.window)
        geometry = dict(line.split("=", 1) for line in shell.splitlines() if "=" in line)
        if not {"X", "Y", "WIDTH", "HEIGHT"} <= geometry.keys():
            raise Failure(f"no geometry for the window of {name}: {shell}")
        x, y = int(geometry["X"]), int(geometry["Y"])
        width, height = int(geometry["WIDTH"]), int(geometry["HEIGHT"])
        # Without a window manager Wine draws the frame inside the X window:
        # the client area sits at the bottom centre of it.
        border = (width - CLIENT[0]) // 2
        self.origin = (x + border, y + height - CLIENT[1] - border)

    def windows(self):
        # A window that goes away while xdotool looks makes it print an X
        # error: only the numbers it prints are windows.
        found = xdotool("search", "--onlyvisible", "--name", "^TALVERN$", errors_apart=True)
        return [word for word in found.split() if word.isdigit()]

    def find_window(self):
        if self.process.poll() is not None:
            raise Failure(f"the program ended with {self.process.returncode} before its "
                          f"window showed")
        found = self.windows()
        return found[0] if found else None

    def click(self, place):
        x, y = self.origin[0] + place[0], self.origin[1] + place[1]
        xdotool("mousemove", "--sync", str(x), str(y), "click", "1")

    def type_into(self, place, text):
        self.click(place)
        xdotool("windowfocus", "--sync", self.window)
        xdotool("key", "--clearmodifiers", "ctrl+a", "BackSpace")
        xdotool("type", "--clearmodifiers", "--delay", "15", text)

    def wait_end(self, timeout=60):
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"the program did not end within {timeout} s")

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.log.close()


def records_for(device_records):
    """What the instrument sends (CR LF line ends) and what the file must hold."""
    sent = b"".join(r + b"\r\n" for r in device_records)
    return sent, sent


def send_in_pieces(line, data):
    # Cut so that line ends straddle pieces: the file must not depend on the cuts.
    for start in range(0, len(data), 37):
        line.send(data[start:start + 37])


def start_capture(program, line, target):
    # Bytes the line held before Start must never reach the file.
    line.send(b"STALE BEFORE START\r\n")
    program.click(START)
    wait_for("the file to be created empty",
             lambda: read_file(target) == b"", 30)
    wait_for("the port to open and clear its input",
             lambda: line.held_by_program() and line.waiting() == 0, 30)


def new_capture(programs, line, name, path=PROGRAM):
    """Starts the program (the installed one unless `path` says another) as
    `name` and a capture into WORK/name.txt."""
    target = os.path.join(WORK, name + ".txt")
    program = Program(name, path)
    programs.append(program)
    program.type_into(FILE_NAME_BOX, windows_path(target))
    start_capture(program, line, target)
    return program, target


def continuous_stream(programs, line):
    """An instrument in continuous upload at 9600 baud: a byte every 1.04 ms,
    records back to back, never a pause. Each record must be in the file
    within 100 ms of its CR, the last ones too, with the program still running."""
    program, target = new_capture(programs, line, "stream")
    sent, expected = records_for([b"%05d,+0012.5071,g" % n for n in range(150)])
    # Where the file ends once each record is in it, and when its CR was sent.
    ends = [at + 2 for at in range(len(expected)) if expected[at:at + 2] == b"\r\n"]
    cr_sent_at = []

    def instrument():
        start = time.monotonic()
        for at, byte in enumerate(sent):
            time.sleep(max(0, start + at * 0.00104 - time.monotonic()))
            os.write(line.master, bytes([byte]))
            if byte == 0x0D:
                cr_sent_at.append(time.monotonic())
    sender = threading.Thread(target=instrument)
    sender.start()
    in_file_at = []
    deadline = time.monotonic() + len(sent) * 0.00104 + 10
    while len(in_file_at) < len(ends) and time.monotonic() < deadline:
        size, now = os.stat(target).st_size, time.monotonic()
        while len(in_file_at) < len(ends) and size >= ends[len(in_file_at)]:
            in_file_at.append(now)
        time.sleep(0.002)
    sender.join()

    delays = [(seen - cr) * 1000 for seen, cr in zip(in_file_at, cr_sent_at)]
    if delays:
        log(f"     CR to file over {len(delays)} records: median "
            f"{statistics.median(delays):.1f} ms, worst {max(delays):.1f} ms")
    check(len(in_file_at) == len(ends), f"every record of the stream is in the file without "
          f"Exit ({len(ends) - len(in_file_at)} missing 10 s after it ended)")
    check(delays and max(delays) <= 100, "each record is in the file within 100 ms of its CR")
    check(read_file(target) == expected, "the stream lands byte-exact")
    program.click(EXIT)
    status = program.wait_end()
    check(status == 0, f"Exit after the stream ends with status 0 (got {status})")


def missing_port(programs):
    missing = os.path.join(WORK, "missing-port.txt")
    program = Program("missing-port")
    programs.append(program)
    program.type_into(FILE_NAME_BOX, windows_path(missing))
    program.click(COM2)
    program.click(START)
    box = wait_for("the failure message box",
                   lambda: len(program.windows()) > 1 and program.windows(), 30)
    message = next(w for w in box if w != program.window)
    xdotool("windowfocus", "--sync", message)
    # A Windows message box copies its text with Ctrl+C.
    xdotool("key", "--clearmodifiers", "ctrl+c")
    text = run("xclip", "-o", "-selection", "clipboard", timeout=10, check_status=False)
    check("Serial port COM2: no such port" in text,
          f"the message names the missing port: {text.strip()!r}")
    xdotool("key", "--clearmodifiers", "Return")
    status = program.wait_end()
    check(status != 0, f"a missing port ends with a non-zero status (got {status})")
    check(read_file(missing) == b"", "the file was created before the port failed")


def install(installer, mode, folder=None):
    """Installs silently for `mode` ("CurrentUser" or "AllUsers"), into
    `folder` if given (/D=), and checks what is where then: the program in its
    folder, its Start menu entry and the uninstall entry naming the folder for
    that way only, no earlier install anywhere. Returns the folder; leaves the
    Wine server stopped."""
    default_folder, start_menu, registry = INSTALL_MODES[mode]
    how = f"/{mode}" + (" /D=" if folder else "")
    arguments = ["/S", "/" + mode] + (["/D=" + windows_path(folder)] if folder else [])
    folder = folder or default_folder
    log(f"installing {os.path.basename(installer)} {' '.join(arguments)}")
    start_wine_server()
    run_twice("wine", installer, *arguments, timeout=180)
    wait_for("the installed program", lambda: os.path.exists(
        os.path.join(folder, "talvern.exe")), 60)
    stop_wine_server()

    missing = [part for part in INSTALLED_PARTS
               if not os.path.exists(os.path.join(folder, part))]
    check(not missing, f"{how} puts the program in {windows_path(folder)} (missing {missing})")
    menus = [m for m, (_, menu, _) in INSTALL_MODES.items() if os.path.exists(menu)]
    check(menus == [mode], f"{how}: the Start menu entry for {mode} only (found {menus})")
    # A file named without a folder lands in the folder the program starts in,
    # which the shortcut names (its target is the install folder).
    documents = windows_path(DOCUMENTS[mode]).lower()
    link = b""
    if os.path.exists(start_menu):
        with open(start_menu, "rb") as f:
            link = f.read().lower()
    check(any(documents.encode(code) in link for code in ("utf-16-le", "latin-1")),
          f"{how}: the Start menu entry starts the program in {documents}")
    earlier = [windows_path(f) for f, _, _ in INSTALL_MODES.values()
               if f != folder and os.path.exists(f)]
    check(not earlier, f"{how}: no earlier install left (found {earlier})")
    entries = {r: uninstall_entry(r) for _, _, r in INSTALL_MODES.values()}
    expected = {r: windows_path(folder) if r == registry else None for r in entries}
    check({r: e and e.lower() for r, e in entries.items()} ==
          {r: e and e.lower() for r, e in expected.items()},
          f"{how}: the uninstall entry in {registry} only, naming the folder ({entries})")
    return folder


def uninstall(folder, mode):
    """Runs the uninstaller silently, as "Apps" does, with a capture file in
    the program's folder: the file stays, everything the install added goes."""
    _, start_menu, registry = INSTALL_MODES[mode]
    with open(os.path.join(folder, "capture.txt"), "wb") as f:
        f.write(b"kept\r\n")
    start_wine_server()
    run("wine", windows_path(folder) + "\\uninstall.exe", "/S", timeout=120)
    wait_uninstaller()
    stop_wine_server()
    check(sorted(os.listdir(folder)) == ["capture.txt"],
          f"the uninstaller removes what {mode} installed and keeps the capture file "
          f"(left {sorted(os.listdir(folder))})")
    check(not os.path.exists(os.path.dirname(start_menu)),
          "the uninstaller removes the Start menu entry")
    check(uninstall_entry(registry) is None, f"the uninstaller removes its entry in {registry}")


def portable(programs, line):
    """The zip unpacked into an empty folder captures, nothing installed."""
    folder = os.path.join(WORK, "portable")
    os.makedirs(folder)
    with zipfile.ZipFile(ZIP) as z:
        z.extractall(folder)
    program, target = new_capture(programs, line, "portable",
                                  windows_path(os.path.join(folder, "TALVERN", "talvern.exe")))
    sent, expected = records_for([b"from the zip %d" % n for n in range(5)])
    send_in_pieces(line, sent)
    wait_for("the records from the unpacked zip", lambda: read_file(target) == expected, 30)
    program.click(EXIT)
    status = program.wait_end()
    check(status == 0 and read_file(target) == expected,
          f"the unpacked zip captures every record and exits with 0 (got {status})")


def main():
    os.makedirs(WORK, exist_ok=True)
    display = Display()
    line = Line()
    programs = []
    try:
        # For the current user: the captures below run from there.
        install(INSTALLER, "CurrentUser")
        sizes = icon_sizes(os.path.join(INSTALL_DIR, "uninstall.exe"))
        check(sizes == ICON_SIZES, f"the uninstaller has the program's icon (sizes {sizes})")

        # COM1 is the pseudo-terminal from the next start of the server on.
        map_com1(line.path)
        start_wine_server()

        # Records land byte-exact; Abort then Start empties the file and captures
        # anew; Exit keeps every record.
        program, target = new_capture(programs, line, "capture")
        sent, expected = records_for([b"12.5071 g", b"HIGH" + bytes(range(0x80, 0x100)),
                                      b"tab\there", b""])
        send_in_pieces(line, sent)
        wait_for("the first records in the file", lambda: read_file(target) == expected, 30)
        check(True, "records with CR LF line ends and bytes 0x80-0xFF land byte-exact")

        program.click(ABORT)
        wait_for("Abort to release the port", lambda: not line.held_by_program(), 30)
        check(read_file(target) == expected, "Abort keeps the file as it was")

        start_capture(program, line, target)
        check(True, "Start after Abort empties the file")
        sent, expected = records_for([b"second capture", b"\xe9t\xe9 \xb5g"])
        send_in_pieces(line, sent + b"partial, never ended")
        wait_for("the second capture's records",
                 lambda: read_file(target) == expected, 30)
        program.click(EXIT)
        status = program.wait_end()
        check(status == 0, f"Exit ends with status 0 (got {status})")
        check(read_file(target) == expected, "Exit leaves every record, CR LF once each")
        check(not line.held_by_program(), "Exit releases the port")

        continuous_stream(programs, line)

        # A port the system does not have: the failure message, a non-zero status.
        # Wine makes each serial device of the machine a COM port; where they
        # could not be hidden (windows.sh needs root for that), COM2 may exist.
        com2 = os.path.join(PREFIX, "dosdevices", "com2")
        if os.path.lexists(com2):
            log(f"SKIP the missing-port case: Wine made {os.readlink(com2)} COM2 here")
        else:
            missing_port(programs)

        # The session ends (log-off, shutdown) mid-capture: every record stays.
        program, ending = new_capture(programs, line, "session-end")
        sent, expected = records_for([b"before the log-off %d" % n for n in range(20)])
        send_in_pieces(line, sent)
        wait_for("the records before the log-off", lambda: read_file(ending) == expected, 30)
        run("wineboot", "--end-session", timeout=60, check_status=False)
        # Wine ends the process once it has answered WM_ENDSESSION; by then the
        # program has closed its file. The status depends on which came first.
        status = program.wait_end()
        log(f"     the program ended with status {status}")
        check(read_file(ending) == expected, "the end of the session leaves every record")
        check(not line.held_by_program(), "the end of the session releases the port")

        portable(programs, line)

        # Each way of installing replaces the other; a signed build's files
        # carry their signatures, an unsigned build's none (unless windows.sh
        # was given a certificate of its own).
        unsigned = "other" if os.environ.get("TALVERN_SIGN_CERT") else "none"
        for installer, mode, chosen, expected in [
                (INSTALLER, "AllUsers", None, unsigned),
                (SIGNED_INSTALLER, "CurrentUser", os.path.join(WORK, "chosen"), "verified")]:
            folder = install(installer, mode, chosen)
            found = {os.path.basename(f): signature(f) for f in
                     [installer] + [os.path.join(folder, n) for n in ("talvern.exe", "uninstall.exe")]}
            check(set(found.values()) == {expected},
                  f"installer, program and uninstaller signed {expected!r} ({found})")
        uninstall(folder, "CurrentUser")
    except (Failure, subprocess.TimeoutExpired) as error:
        failures.append(str(error))
        log(f"FAIL {error}")
    finally:
        for program in programs:
            program.kill()
        display.close()

    if failures:
        log(f"{len(failures)} end-to-end check(s) failed; logs in {WORK}")
        return 1
    log("every end-to-end check passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
