#!/usr/bin/env python3
"""Runs the installer built by scripts/run.sh against the stand-in vendor server, through the
end-to-end harness, and says what it did. First a setup program the pinned publisher signed,
served paced and held at HOLD_AT: screenshots of the window during the download and of the
setup program's window. Then one another publisher signed, which the installer must refuse
with the download-failure box (refused-signature.png) and neither run nor keep.

Usage: run_demo.py BUILD_DIR PORT
"""

import ntpath
import os
import subprocess
import sys

BUILD, PORT = sys.argv[1:3] if len(sys.argv) == 3 else sys.exit(__doc__)
SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
os.environ.update(HALVEX_E2E_BUILD=BUILD, HALVEX_E2E_SOURCE=SOURCE, HALVEX_E2E_PORT=PORT,
                  HALVEX_E2E_PREFIX="wineprefix")
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(SOURCE, "tests", "e2e"))
from harness import (CERT, DOWNLOAD_FAILED, EBWEBVIEW, INSTALLER, MAIN_CLASS, RELEASE,  # noqa: E402
                     SAVE_NAME, SIGNING, STANDIN_TITLE, InstallerRun, screenshot, standin_bytes,
                     ui)
from standin_signing import PUBLISHER  # noqa: E402
from test_certs import SIGNERS  # noqa: E402
from vendor_server import VendorServer  # noqa: E402

# Whole 8192-byte pieces, so the hold below falls on a piece boundary and the bar shows it.
SETUP_SIZE = 300 * 8192
PACE = 400 * 1024
HOLD_AT = 0.4
STANDIN_SECONDS = 5
# Room around the installer's window for its message box in the refusal screenshot.
BOX_MARGIN = 120


def say(text):
    print("==> " + text, flush=True)


def shoot(window, name, margin=0):
    path = os.path.join(BUILD, name)
    left, top, right, bottom = window["rect"]
    screenshot(path, (max(0, left - margin), max(0, top - margin), right + margin, bottom + margin))
    return path


def signer_of(exe):
    """The signer's subject as osslsigncode reads it, checked against the test code-signing
    CA; None when the signature does not verify."""
    result = subprocess.run(["osslsigncode", "verify", "-CAfile",
                             os.path.join(SIGNING, "ca.pem"), "-in", exe],
                            capture_output=True, text=True, timeout=60)
    lines = [line.strip() for line in result.stdout.splitlines()]
    if result.returncode != 0 or "Signer #0:" not in lines:
        return None
    return lines[lines.index("Signer #0:") + 1].split("/CN=")[-1]


def serve(setup, **behaviour):
    server = VendorServer(int(PORT), CERT)
    for path in (RELEASE, EBWEBVIEW):
        server.route(path, body=setup, **behaviour)
    return server.start()


def accepted_run(failures):
    server = serve(standin_bytes(size=SETUP_SIZE), pace=PACE, pause_at=HOLD_AT)
    run = InstallerRun("demo", standin_seconds=STANDIN_SECONDS)
    try:
        say("starting the installer from %s" % run.cwd)
        progress = ui("progress", "--class", MAIN_CLASS, "--at-least", int(HOLD_AT * 100),
                      timeout=120)
        window = run.window("visible", timeout=10)
        if progress["ok"] and window:
            say("    window at %r, progress bar at %d%%: %s"
                % (window["rect"][:2], progress["pos"], shoot(window, "installer-downloading.png")))
        else:
            failures.append("the installer's window showed no download progress")
        server.resume()
        standin = ui("window", "--title", STANDIN_TITLE, "--state", "visible", timeout=120)
        if standin["ok"]:
            hidden = run.window("hidden", timeout=0)
            say("    setup program's window shown%s: %s"
                % (", installer window hidden" if hidden else "",
                   shoot(standin["window"], "setup-running.png")))
        else:
            failures.append("the setup program's window never showed")
        code = run.wait_exit(STANDIN_SECONDS + 120)
    finally:
        run.end()
        server.stop()
    for request in server.requests:
        say("requested %s (user agent %s)" % (request["path"], request["user_agent"]))
    for command_line, directory, *_ in run.standin_runs():
        room = ntpath.dirname(command_line.strip().strip('"'))
        say("the setup program ran as %s in %s, its clean room %s (made for SYSTEM and "
            "Administrators only; Wine does not enforce it)" % (command_line, directory, room))
    if run.new_rooms():
        failures.append("the clean room %s is still there" % run.new_rooms())
    elif run.standin_runs():
        say("%s, signed by %s and verified before it ran, and its clean room were removed "
            "after its run" % (SAVE_NAME, PUBLISHER))
    else:
        failures.append("the setup program did not run")
    if os.listdir(run.cwd):
        failures.append("the installer wrote into its current folder: %s" % os.listdir(run.cwd))
    say("the installer exited with code %s" % code)
    if code != 0:
        failures.append("exit code %s" % code)


def refused_run(failures):
    other = SIGNERS["other"][1]
    server = serve(standin_bytes("other"))
    run = InstallerRun("demo-refused", standin_seconds=STANDIN_SECONDS)
    try:
        say("serving a setup program signed by %s instead" % other)
        box = run.message_box(timeout=120)
        window = run.window("visible", timeout=10)
        if box and window:
            shot = shoot(window, "refused-signature.png", BOX_MARGIN)
            if box["text"] != DOWNLOAD_FAILED:
                failures.append("the refusal box says %r" % box["text"])
            if os.listdir(run.cwd):
                failures.append("the refused setup program was kept: %s" % os.listdir(run.cwd))
            say("the installer refused it: box \"%s\", window kept, nothing kept: %s"
                % (box["text"], shot))
            run.press("cancel", timeout=10)
        else:
            failures.append("no download-failure box over a visible window after the refusal")
    finally:
        run.end()
        server.stop()
    if run.standin_runs():
        failures.append("the setup program signed by %s ran" % other)


def main():
    failures = []
    signer = signer_of(INSTALLER)
    if signer is None:
        failures.append("the installer's signature does not verify")
    else:
        say("installer signed by %s (osslsigncode verify: ok)" % signer)
    accepted_run(failures)
    refused_run(failures)
    for failure in failures:
        print("error: " + failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
