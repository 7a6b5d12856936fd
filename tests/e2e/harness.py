"""Runs the real installer under Wine on the test display and watches it from outside.

The tests get their places from the environment that tests/e2e/CMakeLists.txt sets:
HALVEX_E2E_BUILD (the build folder, with bin/ and the tests' own prefix wineprefix-e2e/),
HALVEX_E2E_SOURCE (the source tree), HALVEX_E2E_PORT (the port compiled into the installer),
HALVEX_E2E_SUPPORT_URL, HALVEX_E2E_PREFIX (another prefix of the build, for tools/run_demo.py),
and HALVEX_E2E_DISPLAY (scripts/test.sh gives them a display of their own) or else DISPLAY. HALVEX_E2E_STREAM ("-b" for the second of the two streams scripts/test.sh
runs side by side) gives the prefix, the display (HALVEX_E2E_DISPLAY_B), the run folders and the
installers (bin/e2e-b) their stream's. Every wait is bounded, and everything started here is
ended by its pid.
"""

import contextlib
import getpass
import glob
import http.server
import json
import ntpath
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from PIL import ImageGrab

BUILD = os.environ["HALVEX_E2E_BUILD"]
SOURCE = os.environ["HALVEX_E2E_SOURCE"]
PORT = int(os.environ["HALVEX_E2E_PORT"])
SUPPORT_URL = os.environ.get("HALVEX_E2E_SUPPORT_URL", "")
BIN = os.path.join(BUILD, "bin")
# Apart from the unit tests' prefix, so that these tests may change the user's settings,
# profile and drive C while those run.
STREAM = os.environ.get("HALVEX_E2E_STREAM", "")
PREFIX_NAME = os.environ.get("HALVEX_E2E_PREFIX", "wineprefix-e2e" + STREAM)
PREFIX = os.path.join(BUILD, PREFIX_NAME)
CERT = os.path.join(BUILD, "certs", "server.pem")
INSTALLERS = os.path.join(BIN, "e2e" + STREAM) if STREAM else BIN
INSTALLER = os.path.join(INSTALLERS, "halvex-installer.exe")
# The same installer built without the publisher pin: it runs unsigned setup programs.
UNPINNED_INSTALLER = os.path.join(INSTALLERS, "unpinned", "halvex-installer.exe")
STANDIN = os.path.join(BIN, "halvex-nefo-standin.exe")
UI_DRIVER = os.path.join(BIN, "ui_driver.exe")
RECORDER = os.path.join(BIN, "https_recorder.exe")
RUNS = os.path.join(BUILD, "e2e-runs" + STREAM)
SIGNING = os.path.join(BUILD, "certs", "signing")

MAIN_CLASS = "HalvexInstaller"
MAIN_TITLE = "Halvex Installer"
STANDIN_TITLE = "Halvex Nefo Setup (stand-in)"
SAVE_NAME = "halvex-nefo-setup.exe"
RELEASE = "/halvex-nefo/release"
EBWEBVIEW = "/halvex-nefo/ebwebview"
USER_AGENT = "HalvexInstaller/1.0"
DOWNLOAD_FAILED = "下载失败，请检查网络连接或联系客服。"
SUPPORT_CAPTION = "系统提示"
NOT_A_PROGRAM = b"this is a text file, not a program\r\n" * 64
# The close glyph's centre in the main window's client area.
GLYPH_CENTRE = (535, 25)
# Where the installer makes each run's clean room for the setup program.
WINDOWS_TEMP = os.path.join(PREFIX, "drive_c", "windows", "temp")

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(SOURCE, "tools"))
from standin_settings import write_standin_settings  # noqa: E402
from standin_signing import revocable_signer, signed_program  # noqa: E402
from vendor_server import VendorServer  # noqa: E402


def _wine_environment():
    """The same Wine settings as the build scripts use (scripts/common.sh)."""
    script = '. "$1/scripts/common.sh"; halvex_wine_env "$2" "$3"; env -0'
    out = subprocess.run(["bash", "-c", script, "env", SOURCE, BUILD, PREFIX_NAME], check=True,
                         capture_output=True, timeout=30).stdout
    env = dict(item.split("=", 1) for item in out.decode().split("\0") if "=" in item)
    env["DISPLAY"] = (os.environ.get("HALVEX_E2E_DISPLAY" + STREAM.upper().replace("-", "_"))
                      or env.get("DISPLAY", ""))
    if not env.get("DISPLAY"):
        raise RuntimeError("DISPLAY is not set; scripts/test.sh provides one")
    return env


WINE_ENV = _wine_environment()


def windows_path(path):
    """Wine maps the Unix root to drive Z:."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine(args, timeout=60, env=None):
    """Runs a Windows program to its end. Its output goes through files, not pipes: Wine
    services that it may start would hold a pipe open long after it has exited."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        process = subprocess.run(["wine"] + list(args), env=env or WINE_ENV, stdout=out,
                                 stderr=err, stdin=subprocess.DEVNULL, timeout=timeout)
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(process.args, process.returncode, out.read(),
                                           err.read())


def ui(*args, timeout=10):
    """Runs one ui_driver command and returns its JSON answer (ok is false on a timeout).
    A driver that ends without any output (seen once in a full run, not reproduced) is run
    once more: a command that did act then finds nothing left to act on and answers ok false,
    so the second run can never make a test pass that should fail."""
    for _ in range(2):
        result = wine([UI_DRIVER] + [str(a) for a in args] + ["--timeout", str(timeout)],
                      timeout=timeout + 60)
        lines = [line for line in result.stdout.decode(errors="replace").splitlines()
                 if line.startswith("{")]
        if lines:
            return json.loads(lines[-1])
    raise RuntimeError("ui_driver said nothing (exit code %s): %r"
                       % (result.returncode, result.stderr[-2000:]))


def xdotool(*args):
    """Real X input, as a person's mouse gives it."""
    subprocess.run(["xdotool"] + [str(a) for a in args], env=WINE_ENV, check=True, timeout=30)


def reg(*args):
    result = wine(["reg"] + list(args))
    if result.returncode != 0:
        raise RuntimeError("reg %s failed: %r" % (" ".join(args), result.stdout + result.stderr))
    return result.stdout.decode(errors="replace")


def reg_default_value(key):
    out = reg("query", key, "/ve")
    for line in out.splitlines():
        if "REG_SZ" in line:
            return line.split("REG_SZ", 1)[1].strip()
    raise RuntimeError("no default value under " + key)


# The user's proxy settings, as Internet Options keeps them: DWORD 0x46, a counter, the flags,
# then the proxy, bypass and proxy-script URL, each a DWORD length and its ASCII bytes.
CONNECTIONS_KEY = ("HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings"
                   "\\Connections")
CONNECTION_SETTINGS = "DefaultConnectionSettings"
PROXY_DIRECT, PROXY_MANUAL, PROXY_SCRIPT, PROXY_AUTO_DETECT = 1, 2, 4, 8
# The profile folder of the prefix's user, where the installer keeps .halvex.
USER_PROFILE = os.path.join(PREFIX, "drive_c", "users", getpass.getuser())


def _connection_settings():
    result = wine(["reg", "query", CONNECTIONS_KEY, "/v", CONNECTION_SETTINGS])
    for line in result.stdout.decode(errors="replace").splitlines():
        if result.returncode == 0 and "REG_BINARY" in line:
            return line.split("REG_BINARY", 1)[1].strip()
    return None


@contextlib.contextmanager
def user_proxy_settings(proxy="", bypass="", script_url="", auto_detect=False):
    """Sets the user's proxy settings in the prefix for the block, then puts back what was
    there (a new prefix has none, which WinHTTP reports as auto-detect on)."""
    flags = (PROXY_DIRECT | (PROXY_MANUAL if proxy else 0) | (PROXY_SCRIPT if script_url else 0)
             | (PROXY_AUTO_DETECT if auto_detect else 0))
    value = struct.pack("<III", 0x46, 1, flags)
    for text in (proxy, bypass, script_url):
        value += struct.pack("<I", len(text)) + text.encode("ascii")
    previous = _connection_settings()
    reg("add", CONNECTIONS_KEY, "/v", CONNECTION_SETTINGS, "/t", "REG_BINARY", "/d", value.hex(),
        "/f")
    try:
        yield
    finally:
        if previous is None:
            reg("delete", CONNECTIONS_KEY, "/v", CONNECTION_SETTINGS, "/f")
        else:
            reg("add", CONNECTIONS_KEY, "/v", CONNECTION_SETTINGS, "/t", "REG_BINARY", "/d",
                previous, "/f")


@contextlib.contextmanager
def machine_proxy(proxy):
    """Sets the machine's WinHTTP proxy (what netsh sets; the binary value WinHttpSettings under
    HKLM, in the layout Wine reads: DWORD 0x18, 0, flags 2, then the proxy and an empty bypass
    list) for the block, then removes it."""
    key = CONNECTIONS_KEY.replace("HKCU", "HKLM", 1)
    value = struct.pack("<IIII", 0x18, 0, PROXY_MANUAL, len(proxy)) + proxy.encode("ascii")
    value += struct.pack("<I", 0)
    reg("add", key, "/v", "WinHttpSettings", "/t", "REG_BINARY", "/d", value.hex(), "/f")
    try:
        yield
    finally:
        reg("delete", key, "/v", "WinHttpSettings", "/f")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@contextlib.contextmanager
def tinyproxy(folder, *connect_ports):
    """Debian's tinyproxy on a free port of 127.0.0.1 (tools/background.sh), with its config and
    log in folder, allowing CONNECT to connect_ports only. Yields ("127.0.0.1:PORT", the log's
    path); the proxy is ended by its pid."""
    port = free_port()
    script = os.path.join(SOURCE, "tools", "background.sh")
    subprocess.run([script, "proxy", folder, str(port)] + [str(p) for p in connect_ports],
                   check=True, timeout=60)
    try:
        yield "127.0.0.1:%d" % port, os.path.join(folder, "log")
    finally:
        subprocess.run([script, "stop", "proxy", folder], check=True, timeout=60)


@contextlib.contextmanager
def small_disk(folder, size):
    """A tmpfs of size bytes mounted on folder (made if missing) for the block, unmounted on
    every path; what folder held shows again afterwards. Skips the test where mounting is
    refused (it needs root)."""
    os.makedirs(folder, exist_ok=True)
    mount = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d" % size, "tmpfs", folder],
                           capture_output=True, timeout=30)
    if mount.returncode != 0:
        raise unittest.SkipTest("cannot stage a full disk: mounting a tmpfs on %s was refused: %s"
                                % (folder, mount.stderr.decode(errors="replace").strip()))
    try:
        yield folder
    finally:
        # Wine may still hold the folder open for a moment; a lazy unmount never waits.
        if subprocess.run(["umount", folder], capture_output=True, timeout=30).returncode != 0:
            subprocess.run(["umount", "-l", folder], check=True, timeout=30)


def screenshot(path, box=None):
    """The X screen, or the box (left, top, right, bottom) of it, as a PIL image, also saved to
    path (the format follows the name)."""
    image = ImageGrab.grab(box, xdisplay=WINE_ENV["DISPLAY"]).convert("RGB")
    image.save(path)
    return image


def _read_lines(path):
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as f:
        return [line.rstrip("\n") for line in f if line.strip()]


def clean_rooms():
    return set(glob.glob(os.path.join(WINDOWS_TEMP, "halvex-*")))


def prefix_pids(image):
    """The Unix pids of this prefix's processes of the given image (Wine shows a program's path,
    a Unix or a Windows one, as the process's first argument)."""
    pids = []
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                program = f.read().split(b"\0")[0].decode(errors="replace")
            with open("/proc/%s/environ" % entry, "rb") as f:
                environ = f.read().split(b"\0")
        except OSError:
            continue
        if (ntpath.basename(program).lower() == image
                and ("WINEPREFIX=" + PREFIX).encode() in environ):
            pids.append(int(entry))
    return pids


def desktop_shell_pids():
    return prefix_pids("explorer.exe")


@contextlib.contextmanager
def desktop_shell_stopped():
    """Stops the prefix's explorer.exe for the block: the desktop shell then takes calls and
    never answers them."""
    pids = desktop_shell_pids()
    if not pids:
        raise RuntimeError("no desktop shell (explorer.exe) in " + PREFIX)
    for pid in pids:
        os.kill(pid, signal.SIGSTOP)
    try:
        yield
    finally:
        for pid in pids:
            os.kill(pid, signal.SIGCONT)


def end_processes(image):
    """Ends this prefix's processes of the given image; whether they were all gone in time."""
    for pid in prefix_pids(image):
        with contextlib.suppress(ProcessLookupError):
            os.kill(pid, signal.SIGKILL)
    return wait_for(lambda: not prefix_pids(image), 30)


def wait_for(condition, timeout, step=0.1):
    """Polls condition until it is true or the bound passes; returns its last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(step)


class InstallerRun:
    """One start of the installer, from a fresh current folder of its own."""

    def __init__(self, name, standin_seconds=0, environment=None,
                 beside=None, installer=INSTALLER, before_start=None, standin=None):
        self.folder = os.path.join(RUNS, name)
        shutil.rmtree(self.folder, ignore_errors=True)
        self.cwd = os.path.join(self.folder, "cwd")
        os.makedirs(self.cwd)
        program = installer
        if beside is not None:
            # Started from a copy in its current folder, as from a Downloads folder, with
            # the given files lying next to it.
            program = shutil.copy(installer, self.cwd)
            for path in beside:
                shutil.copy(path, self.cwd)
        self.rooms_before = clean_rooms()
        self.standin_record = os.path.join(self.folder, "standin-record.txt")
        self.browser_record = os.path.join(self.folder, "browser-record.txt")
        self.standin_environment_record = os.path.join(self.folder, "standin-environment.txt")
        write_standin_settings(PREFIX, record=windows_path(self.standin_record),
                               environment=windows_path(self.standin_environment_record),
                               seconds=standin_seconds,
                               **(standin or {}))
        env = dict(WINE_ENV)
        env.update(environment or {})
        if before_start:
            before_start(self)
        self.log = open(os.path.join(self.folder, "wine.log"), "wb")
        # The wine launcher becomes the Windows process, so its pid is the installer's.
        self.process = subprocess.Popen(["wine", program], cwd=self.cwd, env=env,
                                        stdin=subprocess.DEVNULL, stdout=self.log,
                                        stderr=subprocess.STDOUT)

    def new_rooms(self):
        """The clean rooms made since this run started that are still there."""
        return sorted(clean_rooms() - self.rooms_before)

    @property
    def setup_path(self):
        """The setup program in this run's clean room, once that exists."""
        rooms = self.new_rooms()
        return os.path.join(rooms[0] if rooms else self.cwd, SAVE_NAME)

    def window(self, state="visible", timeout=60):
        """The main window once it is in the given state, or None after the bound."""
        answer = ui("window", "--class", MAIN_CLASS, "--state", state, timeout=timeout)
        return answer.get("window") if answer["ok"] else None

    def message_box(self, timeout=60):
        answer = ui("box", "--owner-class", MAIN_CLASS, timeout=timeout)
        return answer if answer["ok"] else None

    def press(self, button, timeout=30):
        return ui("press", "--owner-class", MAIN_CLASS, "--button", button, timeout=timeout)["ok"]

    def release_at(self, x, y, press_at=None):
        """A left click whose release lands at client (x, y); the press may land elsewhere."""
        left, top = self.window("exists", timeout=10)["rect"][:2]
        px, py = press_at if press_at is not None else (x, y)
        xdotool("mousemove", left + px, top + py, "mousedown", "1",
                "mousemove", left + x, top + y, "mouseup", "1")

    def settle(self):
        """Lets the window handle input already sent: a round trip through its message loop,
        then a pause for a close request it may have posted itself."""
        ui("sync", "--class", MAIN_CLASS, timeout=10)
        time.sleep(1.0)
        ui("sync", "--class", MAIN_CLASS, timeout=10)

    def wait_exit(self, timeout=60):
        """The exit code, or None if the installer is still running after the bound."""
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def browser_opened(self):
        """(address, image name of the process that started the browser), one per opening."""
        return [tuple(line.split("\t")) for line in _read_lines(self.browser_record)]

    def standin_environment(self):
        """The stand-in setup program's environment, by upper-case name."""
        return dict((name.upper(), value) for name, value in
                    (line.split("=", 1) for line in _read_lines(self.standin_environment_record)
                     if not line.startswith("=")))

    def standin_runs(self):
        """(command line, current directory, TEMP, TMP) of each recorded run of the stand-in
        setup."""
        return [tuple(line.split("\t")) for line in _read_lines(self.standin_record)]

    def end(self):
        """Ends whatever of this run is still alive: the installer, then its setup stand-in."""
        end_processes(os.path.basename(INSTALLER))
        self.process.wait(30)
        end_processes(SAVE_NAME)
        self.log.close()


class EndToEndTest(unittest.TestCase):
    """Base for the tests: a stand-in vendor server and installer runs that always end."""

    @contextlib.contextmanager
    def vendor_server(self):
        server = VendorServer(port=PORT, certfile=CERT)
        server.start()
        try:
            yield server
        finally:
            server.stop()

    @contextlib.contextmanager
    def installer(self, name, **options):
        """Starts the installer; options: standin_seconds, standin (more
        of the stand-in's settings: load, child_seconds),
        environment (variables added to the Wine environment, e.g. WINEDLLOVERRIDES),
        beside (files to put next to a copy of the installer, which then runs from there; () for
        the copy alone), installer (UNPINNED_INSTALLER for the build without the publisher pin)
        and before_start (called with the run once its folders exist, just before the start)."""
        run = InstallerRun(name, **options)
        try:
            yield run
        finally:
            run.end()

    @contextlib.contextmanager
    def webview2_runtime(self):
        """A folder where the runtime probe looks, holding one of the runtime's marker files."""
        base = os.path.join(PREFIX, "drive_c", "Program Files", "Microsoft", "EdgeWebView")
        self.assertFalse(os.path.exists(base), "a runtime folder is left over in the prefix")
        folder = os.path.join(base, "Application", "120.0.2210.91")
        os.makedirs(folder)
        with open(os.path.join(folder, "msedgewebview2.exe"), "wb") as f:
            f.write(b"MZ")
        try:
            yield
        finally:
            shutil.rmtree(base)

    @contextlib.contextmanager
    def windows_version(self, version):
        """Wine's per-program override of the Windows version the installer sees."""
        key = "HKCU\\Software\\Wine\\AppDefaults\\halvex-installer.exe"
        reg("add", key, "/v", "Version", "/d", version, "/f")
        try:
            yield
        finally:
            reg("delete", key, "/f")

    @contextlib.contextmanager
    def browser_recorder(self, record_path):
        """Makes the https handler a recorder that writes the address it opens and what started
        it, in the machine's classes (which Wine reads) and the user's own (which Windows
        prefers)."""
        machine = "HKLM\\Software\\Classes\\https\\shell\\open\\command"
        user = "HKCU\\Software\\Classes\\https"
        previous = reg_default_value(machine)
        command = '"%s" "%s" "%%1"' % (windows_path(RECORDER), windows_path(record_path))
        reg("add", machine, "/ve", "/d", command, "/f")
        reg("add", user + "\\shell\\open\\command", "/ve", "/d", command, "/f")
        try:
            yield
        finally:
            reg("delete", user, "/f")
            reg("add", machine, "/ve", "/d", previous, "/f")

    def assert_stays_then_closes(self, run, why, release_at=GLYPH_CENTRE, press_at=None):
        """The window is still shown once the input sent so far is handled (why, if not); a
        release at release_at then closes it and the installer exits with 0."""
        run.settle()
        self.assertIsNotNone(run.window("visible", timeout=0), why)
        run.release_at(*release_at, press_at=press_at)
        self.assertEqual(run.wait_exit(30), 0)

    def assert_nothing_left(self, run):
        self.assertEqual(os.listdir(run.cwd), [], "the user's folder was written")
        self.assertEqual(run.new_rooms(), [], "the clean room was left behind")

    def assert_main_window_centred(self, window):
        # 560 x 310 on the 1920 x 1080 test screen.
        self.assertEqual(window["rect"], [680, 385, 1240, 695])


_signed_standins = {}


def revocable_standin(crl_url, revoked):
    """The stand-in signed by the pinned publisher with a certificate that names crl_url as
    its CRL distribution point, and the CRL (DER) that lists it as revoked or not."""
    os.makedirs(RUNS, exist_ok=True)
    folder = tempfile.mkdtemp(dir=RUNS)
    signer, crl = revocable_signer(SIGNING, folder, crl_url, revoked)
    with open(STANDIN, "rb") as f:
        return signed_program(f.read(), signer, SIGNING), crl


@contextlib.contextmanager
def crl_server(port, crl):
    """Serves the CRL at every path over http on 127.0.0.1:port; yields the paths asked for."""
    asked = []

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            asked.append(self.path)
            self.send_response(200)
            self.send_header("Content-Type", "application/pkix-crl")
            self.send_header("Content-Length", str(len(crl)))
            self.end_headers()
            self.wfile.write(crl)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    try:
        yield asked
    finally:
        server.shutdown()
        server.server_close()
        thread.join(10)


def standin_bytes(signer="publisher", size=None):
    """The stand-in setup program signed by one of the test signers (standin_signing.py), by
    default the publisher the test installer is pinned to; None leaves it unsigned. With size,
    padded with zeros after its image (before the signature) to exactly that many bytes."""
    if (signer, size) not in _signed_standins:
        with open(STANDIN, "rb") as f:
            program = f.read()
        if signer is None:
            body = program + b"\0" * max(0, (size or 0) - len(program))
        else:
            body = signed_program(program, signer, SIGNING, size)
        _signed_standins[(signer, size)] = body
    return _signed_standins[(signer, size)]
