#!/usr/bin/env python3
"""Runs one program as a whole process and prints one line of key=value pairs, followed by
whatever the program printed:

    process_clock.py [--stamp FILE] [--timeout SECONDS] -- COMMAND...

proc_wall_s  from just before the command starts to its exit
proc_cpu_s   user and system CPU time of the process (Wine runs a program in the process that
             `wine` starts; processes it creates itself are not counted). Wine's
             GetProcessTimes answers for the calling process only, so the time is read here.
launch_s     from the start to the moment written (seconds since 1970) into FILE by the
             program's setup stand-in; -1 when the file was never written
exit         the exit status; a program still running after the timeout (default 600 s: an
             installer showing a failure box waits for ever) is killed and reported with
             error=timeout
"""

import os
import subprocess
import sys
import threading
import time


def main():
    args = sys.argv[1:]
    stamp = None
    timeout = 600.0
    while len(args) >= 2 and args[0] in ("--stamp", "--timeout"):
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

    start = time.time()
    child = subprocess.Popen(command, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
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
    print("proc_wall_s=%.3f proc_cpu_s=%.3f launch_s=%.3f exit=%d %s" % (
        wall, usage.ru_utime + usage.ru_stime, launch, child.returncode,
        " ".join(output.split())))
    return 0


if __name__ == "__main__":
    sys.exit(main())
