#!/usr/bin/env python3
"""Runs the installer once against the stand-in vendor server and reports what it did.

Used by scripts/run.sh, which builds the installer with its download origin at
https://localhost:PORT, prepares the Wine prefix and the display, and exports the Wine
environment. This script serves the stand-in setup program paced, so the progress can be
watched for a few seconds, starts the installer from a folder of its own, saves PNG
screenshots of its window during the download and of the setup program's window, and prints
which setup was requested, that it ran and was deleted, and the installer's exit code.

The installer is built pinned to the test publisher and signed by it; the setup program
served first is signed by that publisher. Then a setup program signed by another publisher is
served to a second run, which must refuse it with the download-failure box (screenshot
refused-signature.png) and neither run nor keep it.

Usage: run_demo.py BUILD_DIR PORT
"""

import json
import ntpath
import os
import shutil
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from standin_settings import write_standin_settings  # noqa: E402
from standin_signing import PUBLISHER, signed_program  # noqa: E402
from vendor_server import VendorServer  # noqa: E402

# Whole 8192-byte pieces, so the hold below falls on a piece boundary and the bar shows it.
SETUP_SIZE = 300 * 8192
PACE = 400 * 1024
HOLD_AT = 0.4
STANDIN_SECONDS = 5
MAIN_CLASS = "HalvexInstaller"
STANDIN_TITLE = "Halvex Nefo Setup (stand-in)"
SAVE_NAME = "halvex-nefo-setup.exe"
DOWNLOAD_FAILED = "下载失败，请检查网络连接或联系客服。"
OTHER_PUBLISHER = "Halvex Other Publisher"
# Room around the installer's window for its message box in the refusal screenshot.
BOX_MARGIN = 120


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def ui(build, *args, timeout=30):
    """One ui_driver command; output through a file, since Wine services may hold pipes."""
    command = ["wine", os.path.join(build, "bin", "ui_driver.exe")] + [str(a) for a in args]
    with tempfile.TemporaryFile() as out:
        subprocess.run(command + ["--timeout", str(timeout)], stdout=out,
                       stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, timeout=timeout + 60)
        out.seek(0)
        lines = [l for l in out.read().decode(errors="replace").splitlines() if l.startswith("{")]
    return json.loads(lines[-1]) if lines else {"ok": False, "error": "no answer"}


def screenshot_of(window, path, margin=0):
    """The window's rectangle of the screen (grown by margin on each side), as PNG."""
    left, top, right, bottom = window["rect"]
    left, top = max(0, left - margin), max(0, top - margin)
    right, bottom = right + margin, bottom + margin
    subprocess.run(["import", "-display", os.environ["DISPLAY"], "-window", "root", "-crop",
                    "%dx%d+%d+%d" % (right - left, bottom - top, left, top), "+repage", path],
                   check=True, timeout=60)


def signer_of(build, exe):
    """The subject of the signer of exe as osslsigncode reads it, checked against the test
    code-signing CA; None when the signature does not verify."""
    ca = os.path.join(build, "certs", "signing", "ca.pem")
    result = subprocess.run(["osslsigncode", "verify", "-CAfile", ca, "-in", exe],
                            capture_output=True, timeout=60)
    lines = result.stdout.decode(errors="replace").splitlines()
    if result.returncode != 0 or "Signer #0:" not in [l.strip() for l in lines]:
        return None
    at = [l.strip() for l in lines].index("Signer #0:")
    subject = lines[at + 1].strip()
    return subject.split("/CN=", 1)[1] if "/CN=" in subject else subject


def accepted_run(build, port, setup, failures):
    """Runs the installer on a setup program signed by the pinned publisher."""
    out = build
    cwd = os.path.join(out, "downloads")
    shutil.rmtree(cwd, ignore_errors=True)
    os.makedirs(cwd)
    record = os.path.join(out, "setup-runs.txt")
    for old in (record, os.path.join(out, "installer-downloading.png"),
                os.path.join(out, "setup-running.png")):
        if os.path.exists(old):
            os.remove(old)

    write_standin_settings(os.environ["WINEPREFIX"], record=windows_path(record),
                           seconds=STANDIN_SECONDS)
    server = VendorServer(port=port, certfile=os.path.join(build, "certs", "server.pem"))
    # Held at HOLD_AT until the screenshot of the download has been taken.
    server.route("/halvex-nefo/release", body=setup, pace=PACE, pause_at=HOLD_AT)
    server.route("/halvex-nefo/ebwebview", body=setup, pace=PACE, pause_at=HOLD_AT)
    server.start()
    installer = None
    try:
        print("==> starting the installer from %s" % cwd, flush=True)
        installer = subprocess.Popen(["wine", os.path.join(build, "bin", "halvex-installer.exe")],
                                     cwd=cwd, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        progress = ui(build, "progress", "--class", MAIN_CLASS, "--at-least", int(HOLD_AT * 100),
                      timeout=120)
        window = ui(build, "window", "--class", MAIN_CLASS, "--state", "visible", timeout=10)
        if progress["ok"] and window["ok"]:
            shot = os.path.join(out, "installer-downloading.png")
            screenshot_of(window["window"], shot)
            print("    window at %r, progress bar at %d%%: %s"
                  % (window["window"]["rect"][:2], progress["pos"], shot), flush=True)
        else:
            failures.append("the installer's window showed no download progress (%s)"
                            % (progress.get("error") or window.get("error")))
        server.resume()

        standin = ui(build, "window", "--title", STANDIN_TITLE, "--state", "visible", timeout=120)
        if standin["ok"]:
            shot = os.path.join(out, "setup-running.png")
            screenshot_of(standin["window"], shot)
            hidden = ui(build, "window", "--class", MAIN_CLASS, "--state", "hidden", timeout=0)
            print("    setup program's window shown%s: %s"
                  % (", installer window hidden" if hidden["ok"] else "", shot), flush=True)
        else:
            failures.append("the setup program's window never showed")

        try:
            code = installer.wait(STANDIN_SECONDS + 120)
        except subprocess.TimeoutExpired:
            code = None
            failures.append("the installer did not end")
    finally:
        if installer is not None and installer.poll() is None:
            installer.kill()
            installer.wait(30)
        server.stop()

    for request in server.requests:
        print("==> requested %s (user agent %s)" % (request["path"], request["user_agent"]))
    runs = []
    if os.path.exists(record):
        with open(record, encoding="utf-8") as f:
            runs = [line.rstrip("\n").split("\t") for line in f if line.strip()]
    for command_line, directory, *_ in runs:
        print("==> the setup program ran as %s in %s" % (command_line, directory))
        room = ntpath.basename(ntpath.dirname(command_line.strip().strip('"')))
        print("==> its clean room: %s (made for SYSTEM and Administrators only; Wine does not "
              "enforce it)"
              % ntpath.dirname(command_line.strip().strip('"')))
        if os.path.exists(os.path.join(os.environ["WINEPREFIX"], "drive_c", "windows", "temp",
                                       room)):
            failures.append("the clean room %s is still there" % room)
        else:
            print("==> %s and its clean room were removed after its run" % SAVE_NAME)
    if runs:
        print("==> setup program signed by %s \u2014 verified before it ran" % PUBLISHER)
    else:
        failures.append("the setup program did not run")
    if os.listdir(cwd):
        failures.append("the installer wrote into its current folder: %s" % os.listdir(cwd))
    print("==> the installer exited with code %s" % code)
    if code != 0 and code is not None:
        failures.append("exit code %s" % code)


def refused_run(build, port, setup, failures):
    """Runs the installer on a setup program signed by another publisher: it must show the
    download-failure box, keep its window, and neither run nor keep the file."""
    cwd = os.path.join(build, "downloads-refused")
    shutil.rmtree(cwd, ignore_errors=True)
    os.makedirs(cwd)
    record = os.path.join(build, "refused-runs.txt")
    shot = os.path.join(build, "refused-signature.png")
    for old in (record, shot):
        if os.path.exists(old):
            os.remove(old)
    write_standin_settings(os.environ["WINEPREFIX"], record=windows_path(record),
                           seconds=STANDIN_SECONDS)
    server = VendorServer(port=port, certfile=os.path.join(build, "certs", "server.pem"))
    server.route("/halvex-nefo/release", body=setup)
    server.route("/halvex-nefo/ebwebview", body=setup)
    server.start()
    installer = None
    try:
        print("==> serving a setup program signed by %s instead" % OTHER_PUBLISHER, flush=True)
        installer = subprocess.Popen(["wine", os.path.join(build, "bin", "halvex-installer.exe")],
                                     cwd=cwd, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        box = ui(build, "box", "--owner-class", MAIN_CLASS, timeout=120)
        window = ui(build, "window", "--class", MAIN_CLASS, "--state", "visible", timeout=10)
        if box["ok"] and window["ok"]:
            screenshot_of(window["window"], shot, margin=BOX_MARGIN)
            if box["text"] != DOWNLOAD_FAILED:
                failures.append("the refusal box says %r" % box["text"])
            kept = os.listdir(cwd)
            if kept:
                failures.append("the refused setup program was kept: %s" % kept)
            print("==> the installer refused it: box \"%s\", window kept, nothing kept: %s"
                  % (box["text"], shot), flush=True)
            ui(build, "press", "--owner-class", MAIN_CLASS, "--button", "cancel", timeout=10)
        else:
            failures.append("no download-failure box over a visible window after the refusal "
                            "(%s)" % (box.get("error") or window.get("error")))
    finally:
        if installer is not None and installer.poll() is None:
            installer.kill()
            installer.wait(30)
        server.stop()
    if os.path.exists(record):
        failures.append("the setup program signed by %s ran" % OTHER_PUBLISHER)


def main(build, port):
    failures = []
    installer = os.path.join(build, "bin", "halvex-installer.exe")
    signer = signer_of(build, installer)
    if signer is None:
        failures.append("the installer's signature does not verify")
    else:
        print("==> installer signed by %s (osslsigncode verify: ok)" % signer, flush=True)

    with open(os.path.join(build, "bin", "halvex-nefo-standin.exe"), "rb") as f:
        program = f.read()
    signing = os.path.join(build, "certs", "signing")
    # Data after a program's image does not stop it from running; it makes the download last.
    # It goes before the signature, which covers it.
    accepted_run(build, port, signed_program(program, "publisher", signing, SETUP_SIZE),
                 failures)
    refused_run(build, port, signed_program(program, "other", signing), failures)

    for failure in failures:
        print("error: " + failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], int(sys.argv[2])))
