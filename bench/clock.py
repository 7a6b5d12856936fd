#!/usr/bin/env python3
"""clock.py [--trace] -- COMMAND...: runs one command as a whole process and prints wall_s
(start to exit), cpu_s and maxrss_kib (its rusage: Wine runs a program in the process `wine`
starts) and exit; with --trace also at_NAME_s: when the program made the calls that end its
steps (MILESTONES), read from Wine's relay trace of those calls alone (the prefix's
RelayInclude)."""

import os, re, subprocess, sys, threading, time  # noqa: E401

# Each milestone: the n-th relay line of a call (named first, then more of its line), "Call"
# as it is entered or "Ret" as it returns. The download session's WinHttpOpen is told apart by
# its user agent, the full bar by PBM_SETPOS (0x402) with 100 (0x64); the version gate asks
# twice. The window's creation ends with the outermost CreateWindowExW (the bar's nests).
MILESTONES = (
    ("entry", "Call", "SetDefaultDllDirectories", "", 1),
    ("registration_start", "Call", "SHGetFolderPathW", "", 1),
    ("window_created", "Ret", "CreateWindowExW", "", "outermost"),
    ("window_up", "Ret", "UpdateWindow", "", 1),
    ("version_gate", "Ret", "VerifyVersionInfoW", "", 2),
    ("winhttp_load", "Call", "LoadLibrary(?:Ex)?[AW]", ".*winhttp", 1),
    ("proxy_start", "Call", "WinHttpGetDefaultProxyConfiguration", "", 1),
    ("session_open", "Call", "WinHttpOpen", '[0-9a-f]+ L"(?:HalvexInstaller|HalvexBench)', 1),
    ("connected", "Ret", "connect", "", 1),
    ("request_sent", "Ret", "WinHttpSendRequest", "", 1),
    ("first_byte", "Ret", "WinHttpReceiveResponse", "", 1),
    ("last_byte", "Call", "SendMessageW", "[0-9A-Fa-f]+,00000402,00000064,", 1),
    ("launch_call", "Call", "CreateProcessW", "", 1),
)
PATTERNS = [(name, kind, re.compile(r"\.%s\(%s" % (call, more)), which)
            for name, kind, call, more, which in MILESTONES]
RELAY_INCLUDE = ";".join([m[2] for m in MILESTONES if "(" not in m[2]] +
                         ["LoadLibraryA", "LoadLibraryW", "LoadLibraryExA", "LoadLibraryExW"])
# The steps of a traced run as the user waits through them, for the report: (name, from, to)
# as moments ("start": the process's start, "end": its exit).
STEPS = (
    ("process start to the entry point: Wine, image, DLLs, runtime", "start", "entry"),
    ("entry to the registration: common controls, class, picture, window, bar, worker start",
     "entry", "registration_start"),
    ("version gate (worker, from its start beside the registration)", "registration_start",
     "version_gate"),
    ("runtime probe", "version_gate", "winhttp_load"),
    ("WinHTTP's load (delay-loaded)", "winhttp_load", "proxy_start"),
    ("proxy decision", "proxy_start", "session_open"),
    ("session to connected (name, TCP)", "session_open", "connected"),
    ("TLS and the request", "connected", "request_sent"),
    ("response head (first byte)", "request_sent", "first_byte"),
    ("body", "first_byte", "last_byte"),
    ("after the last byte, to the launch call", "last_byte", "launch_call"),
    ("the setup program's launch and run, its deletion, the close and the exit", "launch_call",
     "end"))
WINDOW_STEPS = (
    ("window thread: registration", "registration_start", "window_created"),
    ("window thread: window created to shown and painted", "window_created", "window_up"))
BARE_STEPS = (
    ("bare: process start to the session: Wine, image, DLLs, runtime", "start", "session_open"),
    ("bare: session to connected (name, TCP)", "session_open", "connected"),
    ("bare: TLS and the request", "connected", "request_sent"),
    ("bare: response head (first byte)", "request_sent", "first_byte"),
    ("bare: body, then the exit", "first_byte", "end"))
# "0020:0024:Call user32.CreateWindowExW(...) ret=...": process, thread, call or return.
RELAY_LINE = re.compile(r"^([0-9a-f]+):([0-9a-f]+):(Call|Ret) +[\w.]+\(")
FIRST_CALL = re.compile(PATTERNS[0][2].pattern + "|" + PATTERNS[7][2].pattern)


def read_trace(stream, start, moments):
    """Keeps each milestone's moment, in seconds from the start, as the trace arrives."""
    seen, depth, process = {}, {}, None
    for raw in iter(stream.readline, b""):
        now = time.monotonic() - start
        line = raw.decode(errors="replace")
        match = RELAY_LINE.match(line)
        if not match:
            continue
        pid, thread, kind = match.groups()
        # Processes the program starts (the setup program) inherit the trace: the program's
        # own is the one that makes the first call, its entry or its session.
        if process is None and FIRST_CALL.search(line):
            process = pid
        if pid != process:
            continue
        for name, wanted, pattern, which in PATTERNS:
            if not pattern.search(line):
                continue
            if which == "outermost":
                depth[thread] = depth.get(thread, 0) + (1 if kind == "Call" else -1)
                if kind == wanted and depth[thread] == 0:
                    moments.setdefault(name, now)
            elif kind == wanted:
                seen[name] = seen.get(name, 0) + 1
                if seen[name] == which:
                    moments[name] = now


def main():
    args = sys.argv[1:]
    trace = "--trace" in args[:args.index("--")]
    command = args[args.index("--") + 1:]
    env = dict(os.environ)
    if trace:
        env["WINEDEBUG"] = "-all,+pid,+relay"
    start = time.monotonic()
    child = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                             stderr=subprocess.PIPE if trace else None, env=env)
    moments = {}
    reader = threading.Thread(target=read_trace, daemon=True,
                              args=(child.stderr, start, moments)) if trace else None
    if reader:
        reader.start()
    _, status, usage = os.wait4(child.pid, 0)
    fields = ["wall_s=%.3f" % (time.monotonic() - start),
              "cpu_s=%.3f" % (usage.ru_utime + usage.ru_stime),
              "maxrss_kib=%d" % usage.ru_maxrss, "exit=%d" % os.waitstatus_to_exitcode(status)]
    if reader:
        # The program's own children may keep the pipe open; what they trace comes later.
        reader.join(5)
        fields += ["at_%s_s=%.4f" % (name, moments[name]) for name, _, _, _ in PATTERNS
                   if name in moments]
    print(" ".join(fields))
    return 0


if __name__ == "__main__":
    sys.exit(main())
