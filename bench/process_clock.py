#!/usr/bin/env python3
"""Runs one program as a whole process and prints one line of key=value pairs, followed by
whatever the program printed:

    process_clock.py [--stamp FILE] [--timeout SECONDS] [--trace] -- COMMAND...

proc_wall_s  from just before the command starts to its exit
proc_cpu_s   user and system CPU time of the process (Wine runs a program in the process that
             `wine` starts; processes it creates itself are not counted). Wine's
             GetProcessTimes answers for the calling process only, so the time is read here.
launch_s     from the start to the moment written (seconds since 1970) into FILE by the
             program's setup stand-in; -1 when the file was never written
exit         the exit status; a program still running after the timeout (default 600 s: an
             installer showing a failure box waits for ever) is killed and reported with
             error=timeout
--trace      also the moments (seconds from the start, at_NAME_s) at which the program made
             the calls that end each of its steps (MILESTONES), read from Wine's relay trace
             of those calls alone as it arrives on the program's standard error. The prefix
             must name the calls in HKCU\\Software\\Wine\\Debug, RelayInclude (RELAY_INCLUDE);
             nothing is added to the program.
"""

import os
import re
import subprocess
import sys
import threading
import time

# Each milestone: the n-th relay line of a call, "Call" as it is entered or "Ret" as it
# returns, whose text matches. Wine prints a call's arguments, so the download session's
# WinHttpOpen is told apart by its user agent and the full bar by PBM_SETPOS (0x402) with
# 100 (0x64). The version gate asks twice (6.1, then 6.2). The main window's creation ends
# with the return of the first outermost CreateWindowExW (the bar's is nested in it).
MILESTONES = (
    ("entry", "Call", r"\.SetDefaultDllDirectories\(", 1),
    ("registration_start", "Call", r"\.SHGetFolderPathW\(", 1),
    ("window_created", "Ret", r"\.CreateWindowExW\(", "outermost"),
    ("window_up", "Ret", r"\.UpdateWindow\(", 1),
    ("version_gate", "Ret", r"\.VerifyVersionInfoW\(", 2),
    ("winhttp_load", "Call", r"\.LoadLibrary(Ex)?[AW]\(.*winhttp", 1),
    ("proxy_start", "Call", r"\.WinHttpGetDefaultProxyConfiguration\(", 1),
    ("session_open", "Call", r"\.WinHttpOpen\([0-9a-f]+ L\"(HalvexInstaller|HalvexBench)", 1),
    ("connect_start", "Call", r"\.connect\(", 1),
    ("connected", "Ret", r"\.connect\(", 1),
    ("request_sent", "Ret", r"\.WinHttpSendRequest\(", 1),
    ("first_byte", "Ret", r"\.WinHttpReceiveResponse\(", 1),
    ("last_byte", "Call", r"\.SendMessageW\([0-9A-Fa-f]+,00000402,00000064,", 1),
    ("launch_call", "Call", r"\.CreateProcessW\(", 1),
)
RELAY_INCLUDE = ";".join((
    "SetDefaultDllDirectories", "SHGetFolderPathW", "CreateWindowExW", "UpdateWindow",
    "VerifyVersionInfoW", "LoadLibraryA", "LoadLibraryW", "LoadLibraryExA", "LoadLibraryExW",
    "WinHttpGetDefaultProxyConfiguration", "WinHttpOpen", "connect", "WinHttpSendRequest",
    "WinHttpReceiveResponse", "SendMessageW", "CreateProcessW"))
# "0020:0024:Call user32.CreateWindowExW(...) ret=..." or "0020:0024:Ret  user32.Create...":
# the process, the thread and whether it is a call or its return.
RELAY_LINE = re.compile(r"^([0-9a-f]+):([0-9a-f]+):(Call|Ret) +[\w.]+\(")


class TraceReader(threading.Thread):
    """Reads the relay trace as it arrives and keeps each milestone's moment."""

    def __init__(self, stream, start):
        super().__init__(daemon=True)
        self.stream = stream
        self.start_time = start
        self.moments = {}
        self.patterns = [(name, kind, re.compile(pattern), which)
                         for name, kind, pattern, which in MILESTONES]
        self.seen = {}
        self.depth = {}
        self.process = None
        self.first_call = re.compile("|".join(pattern for name, _, pattern, _ in MILESTONES
                                              if name in ("entry", "session_open")))

    def note(self, line, now):
        match = RELAY_LINE.match(line)
        if not match:
            return
        process, thread, kind = match.groups()
        # Processes the program starts (Wine's desktop, the setup program) inherit the trace:
        # the program's own is the one that makes its first call, the entry or the session.
        if self.process is None and self.first_call.search(line):
            self.process = process
        if process != self.process:
            return
        for name, wanted, pattern, which in self.patterns:
            if not pattern.search(line):
                continue
            if which == "outermost":
                depth = self.depth.get(thread, 0) + (1 if kind == "Call" else -1)
                self.depth[thread] = depth
                if kind == wanted and depth == 0:
                    self.moments.setdefault(name, now)
            elif kind == wanted:
                self.seen[name] = self.seen.get(name, 0) + 1
                if self.seen[name] == which:
                    self.moments[name] = now

    def run(self):
        pending = b""
        while True:
            chunk = os.read(self.stream.fileno(), 65536)
            if not chunk:
                break
            now = time.monotonic() - self.start_time
            lines = (pending + chunk).split(b"\n")
            pending = lines.pop()
            for line in lines:
                self.note(line.decode(errors="replace"), now)


def main():
    args = sys.argv[1:]
    stamp = None
    timeout = 600.0
    trace = False
    while args and args[0] in ("--stamp", "--timeout", "--trace"):
        if args[0] == "--trace":
            trace = True
            args = args[1:]
            continue
        if len(args) < 2:
            raise SystemExit(__doc__)
        if args[0] == "--stamp":
            stamp = args[1]
        else:
            timeout = float(args[1])
        args = args[2:]
    if not args or args[0] != "--" or len(args) < 2:
        raise SystemExit(__doc__)
    command = args[1:]
    if stamp and os.path.exists(stamp):
        os.remove(stamp)
    env = dict(os.environ)
    if trace:
        env["WINEDEBUG"] = "-all,+pid,+relay"

    start = time.time()
    start_monotonic = time.monotonic()
    child = subprocess.Popen(command, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, env=env,
                             stderr=subprocess.PIPE if trace else None)
    reader = None
    if trace:
        reader = TraceReader(child.stderr, start_monotonic)
        reader.start()
    killer = threading.Timer(timeout, child.kill)
    killer.start()
    output = child.stdout.read().decode(errors="replace")
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.time() - start
    killer.cancel()
    child.returncode = os.waitstatus_to_exitcode(status)
    if wall >= timeout:
        output += " ok=0 error=timeout"

    launch = -1.0
    if stamp and os.path.exists(stamp):
        with open(stamp) as f:
            launch = float(f.read().strip()) - start
    moments = ""
    if reader:
        # The program's own children may keep the pipe open; what they trace comes later.
        reader.join(5)
        moments = " ".join("at_%s_s=%.4f" % (name, reader.moments[name])
                           for name, _, _, _ in MILESTONES if name in reader.moments)
    print("proc_wall_s=%.3f proc_cpu_s=%.3f launch_s=%.3f exit=%d %s %s" % (
        wall, usage.ru_utime + usage.ru_stime, launch, child.returncode, moments,
        " ".join(output.split())))
    return 0


if __name__ == "__main__":
    sys.exit(main())
