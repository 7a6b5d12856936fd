#!/usr/bin/env python3
"""Turns the raw lines that bench/run.sh collected into the results table.

    report.py pixel BMP X Y       prints "X Y RRGGBB": the colour of a 24-bit BMP's pixel
    report.py report --out DIR --build DIR --root DIR --size-mib N --paced-mib N --paced-rate R
                     --runs N --results FILE [--before FILE]
                                  writes the results page and its chart beside it (the
                                  before figures from an earlier page), and prints the table
"""

import argparse
import datetime
import os
import platform
import re
import statistics
import struct
import subprocess
import sys

KIB = 1024
MIB = 1024 * 1024
OBJDUMP = "x86_64-w64-mingw32-objdump"
NM = "x86_64-w64-mingw32-nm"
# Sections a stripped PE image keeps; .bss takes no room in the file.
FILE_SECTIONS = (".text", ".data", ".rdata", ".pdata", ".xdata", ".idata", ".CRT", ".tls",
                 ".rsrc", ".reloc")


def bmp_pixel(path, x, y):
    with open(path, "rb") as f:
        data = f.read()
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height = struct.unpack_from("<ii", data, 18)
    bits = struct.unpack_from("<H", data, 28)[0]
    if bits != 24:
        raise SystemExit("expected a 24-bit bitmap: " + path)
    stride = (width * 3 + 3) & ~3
    row = height - 1 - y if height > 0 else y
    b, g, r = data[offset + row * stride + 3 * x: offset + row * stride + 3 * x + 3]
    return "%02X%02X%02X" % (r, g, b)


def read_runs(out, name):
    """Every key=value line of one figure; the last value of a repeated key wins."""
    path = os.path.join(out, name + ".txt")
    runs = []
    if not os.path.exists(path):
        return runs
    with open(path) as f:
        for line in f:
            fields = dict(part.split("=", 1) for part in line.split() if "=" in part)
            if fields:
                runs.append(fields)
    return runs


def good(runs):
    return [r for r in runs if r.get("ok") == "1"]


def median_of(runs, key):
    values = [float(r[key]) for r in runs if key in r]
    return statistics.median(values) if values else None


def mbps(run):
    return int(run["bytes"]) / float(run["seconds"]) / 1e6


def median_mbps(runs):
    values = [mbps(r) for r in good(runs)]
    return statistics.median(values) if values else None


def spread(values, fmt):
    if not values:
        return "-"
    return (fmt + "–" + fmt) % (min(values), max(values))


def command(*args):
    try:
        return subprocess.run(args, capture_output=True, text=True, check=False).stdout.strip()
    except OSError:
        return ""


def machine():
    cpu = ""
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    lscpu = command("lscpu")
    match = re.search(r"^Model name:\s*(.+)$", lscpu, re.M)
    if match and len(match.group(1)) > len(cpu):
        cpu = match.group(1).strip()
    memory = ""
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith("MemTotal"):
                memory = "%.1f GiB" % (int(line.split()[1]) * KIB / (1 << 30))
    return {
        "cpus": str(os.cpu_count()),
        "cpu": cpu,
        "memory": memory,
        "wine": command("wine", "--version"),
        "kernel": platform.release(),
        "nginx": command("nginx", "-v") or subprocess.run(
            ["nginx", "-v"], capture_output=True, text=True).stderr.strip(),
        "curl": command("curl", "--version").splitlines()[0] if command("curl", "--version") else "",
        "load": open("/proc/loadavg").read().split()[0:3],
    }


def section_sizes(exe):
    sizes = {}
    for line in command(OBJDUMP, "-h", exe).splitlines():
        fields = line.split()
        if len(fields) >= 3 and fields[0].isdigit():
            sizes[fields[1]] = int(fields[2], 16)
    return sizes


def map_contributions(path):
    """Bytes each input (archive, or archive member for the project's own libraries) puts
    into the sections that stay in the stripped file, from a GNU ld link map."""
    totals = {}
    if not os.path.exists(path):
        return totals
    with open(path, errors="replace") as f:
        lines = f.read().split("\n")
    try:
        start = lines.index("Linker script and memory map")
    except ValueError:
        return totals
    output = None
    pending = None
    entry = re.compile(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$")
    for line in lines[start:]:
        head = re.match(r"^(\.\S+)", line)
        if head:
            output = head.group(1)
            continue
        if output not in FILE_SECTIONS:
            continue
        single = re.match(r"^ (\.\S+|\*\S*|COMMON)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$", line)
        if single:
            size, source = int(single.group(3), 16), single.group(4)
        elif pending and entry.match(line):
            match = entry.match(line)
            size, source = int(match.group(2), 16), match.group(3)
        else:
            pending = re.match(r"^ (\.\S+)$", line) is not None
            continue
        pending = False
        totals[input_name(source)] = totals.get(input_name(source), 0) + size
    return totals


def input_name(source):
    source = source.strip()
    match = re.match(r"^(.*?)\(([^)]*)\)$", source)
    if match:
        archive = os.path.basename(match.group(1))
        if archive.startswith("libhalvex"):
            return "%s(%s)" % (archive, match.group(2))
        return archive
    name = os.path.basename(source)
    return name or "linker"


def unique_symbols(exe, floor, count):
    def sized(path):
        symbols = {}
        for line in command(NM, "--size-sort", "-S", "-C", path).splitlines():
            parts = line.split(None, 3)
            # Section symbols (".rsrc", ".pdata$...") span whole sections, not code.
            if len(parts) == 4 and not parts[3].startswith("."):
                symbols[parts[3]] = int(parts[1], 16)
        return symbols

    mine = sized(exe)
    theirs = sized(floor)
    extra = sorted(((size, name) for name, size in mine.items() if name not in theirs),
                   reverse=True)
    return extra[:count], sum(size for size, _ in extra)


def icon_bytes(path):
    """Bytes of the images in an .ico file, as they go into the icon resources."""
    with open(path, "rb") as f:
        data = f.read()
    count = struct.unpack_from("<H", data, 4)[0]
    return sum(struct.unpack_from("<I", data, 6 + 16 * i + 8)[0] for i in range(count))


def met(ok):
    """A goal's verdict; not judged when a figure is missing (None)."""
    if ok is None:
        return "-"
    return "yes" if ok else "**no**"


def at_most(value, limit):
    return None if value is None else value <= limit


def at_least(value, limit):
    return None if value is None else value >= limit


def fmt(value, pattern="%.1f"):
    return "-" if value is None else pattern % value


# The installer's start-up steps in their order, as startup_steps names them, and the
# minimal window's step that does the same work (startup_floor's names), if any.
STARTUP_STEPS = (
    ("load", "process creation to the entry point: image, imported DLLs, runtime", "load"),
    ("dll_search", "DLL search limited to System32", None),
    ("common_controls", "InitCommonControlsEx (loads comctl32)", None),
    ("cursor", "arrow cursor", "cursor"),
    ("picture1", "background picture, first load", None),
    ("icon", "class icon (128 × 128 PNG image)", None),
    ("class", "RegisterClassW", "class"),
    ("create_window", "CreateWindowExW up to WM_CREATE (the floor: all of it)", "create_window"),
    ("picture2", "background picture, second call (kept from the first)", None),
    ("bar", "progress bar: create, range, colours", None),
    ("worker_start", "install worker thread started", None),
    ("register", "RegisterProduct: profile folder, read, durable write when changed", None),
    ("create_return", "rest of CreateWindowExW after WM_CREATE", None),
    ("centre", "centring: GetWindowRect, SetWindowPos", "centre"),
    ("show", "ShowWindow", "show"),
    ("first_paint", "UpdateWindow: the first paint", "first_paint"),
)


def startup_breakdown(steps, alone, floor_steps, si, sf):
    """The per-step table of the start-up, from the programs' own clocks, beside the
    minimal window's, and what remains above the goal."""
    if not steps:
        return []

    def medians(runs):
        return {key: median_of(runs, key + "_ms") for key in
                {k for k, _, _ in STARTUP_STEPS} | {f for _, _, f in STARTUP_STEPS if f}}

    mine = medians(steps)
    without = medians(alone)
    theirs = medians(floor_steps)
    lines = [
        "",
        "## Where the start-up time goes",
        "",
        "`startup_steps` makes the installer's start-up calls in the installer's order with the "
        "product's own functions (worker and registration included) and times each; "
        "`startup_floor` times its own steps the same way. Both write their steps down only "
        "after the first paint, and both are measured from outside by `startup_launcher` too. "
        "The third column is the installer's steps again with no install worker started: what "
        "the worker's work alongside (DLL loads, TLS) costs the window. Medians in ms:",
        "",
        "| Step | installer's steps | the same, no worker | minimal window | difference "
        "(installer − minimal) |",
        "|---|---|---|---|---|",
    ]
    totals = [0.0, 0.0, 0.0]
    for key, name, floor_key in STARTUP_STEPS:
        value = mine.get(key)
        other = theirs.get(floor_key) if floor_key else 0.0
        if value is None:
            continue
        alone_value = without.get(key)
        totals[0] += value
        totals[1] += alone_value or 0.0
        totals[2] += other or 0.0
        lines.append("| %s | %.1f | %s | %s | %+.1f |" % (
            name, value, fmt(alone_value), fmt(other if floor_key else None),
            value - (other or 0.0)))
    outside = (median_of(steps, "paint_ms"), median_of(alone, "paint_ms"),
               median_of(floor_steps, "paint_ms"))
    if None not in outside:
        tails = [outside[i] - totals[i] for i in range(3)]
        lines.append("| end of the first paint to the pixel on the screen (X server, the "
                     "launcher's 1 ms polling) | %.1f | %.1f | %.1f | %+.1f |" % (
                         tails[0], tails[1], tails[2], tails[0] - tails[2]))
        lines.append("| process start to first paint, from outside | %.1f | %.1f | %.1f | "
                     "%+.1f |" % (outside[0], outside[1], outside[2], outside[0] - outside[2]))
    if si and sf:
        lines += [
            "",
            "The installer itself took %.1f ms against the minimal window's %.1f ms; the goal "
            "allows %.1f ms (1.2 ×), so %+.1f ms remain against it." % (
                si, sf, 1.2 * sf, si - 1.2 * sf),
        ]
    return lines


# The whole process's steps, in the order the user waits through them: (name, from, to) as
# moments of process_clock.py's trace ("start" is the process's start, "launch" the setup
# program's own start, "end" the process's exit). The window's steps run on the main thread
# beside the worker's and are shown apart.
WHOLE_STEPS = (
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
    ("launch: CreateProcessW to the setup program's start", "launch_call", "launch"),
)
WINDOW_STEPS = (
    ("window thread: registration", "registration_start", "window_created"),
    ("window thread: window created to shown and painted", "window_created", "window_up"),
)
# The bare process has no window and no checks: its start-up runs to its session, and its
# body to its exit.
BARE_STEPS = (
    ("process start to the session: Wine, image, DLLs, runtime", "start", "session_open"),
    ("session to connected (name, TCP)", "session_open", "connected"),
    ("TLS and the request", "connected", "request_sent"),
    ("response head (first byte)", "request_sent", "first_byte"),
    ("body, then the exit", "first_byte", "end"),
)
# Figures of the round before, from the issue that set the goals, when no earlier results
# page carries a goals table.
GOALS_BEFORE = {
    "loopback": "0.70 (47 against 67 MB/s)",
    "paced": "1.18 (8.83 against 7.49 s)",
    "cpu": "1.54 (0.97 against 0.63 s)",
    "startup": "1.44",
}


def moments(run):
    """A traced run's moments in seconds from its start."""
    found = {"start": 0.0}
    for key, value in run.items():
        if key.startswith("at_") and key.endswith("_s"):
            found[key[3:-2]] = float(value)
    if float(run.get("launch_s", -1)) >= 0:
        found["launch"] = float(run["launch_s"])
    found["end"] = float(run["proc_wall_s"])
    return found


def step_medians(runs, steps):
    """Median seconds of each step over the traced runs that show both its ends."""
    traced = [moments(r) for r in good(runs)]
    result = {}
    for name, start, end in steps:
        values = [m[end] - m[start] for m in traced if start in m and end in m]
        result[name] = statistics.median(values) if values else None
    return result


def previous_tables(path):
    """Rows of the goals and whole-process tables of an earlier results page: first cell to
    the row's cells."""
    rows = {}
    if not path or not os.path.exists(path):
        return rows
    section = None
    with open(path) as f:
        for line in f:
            if line.startswith("## "):
                section = line[3:].strip()
            elif line.startswith("| ") and section in ("Goals", "Where the whole process's time goes"):
                cells = [c.strip() for c in line.strip().strip("|").split("|")]
                rows[(section, cells[0])] = cells
    return rows


def whole_process(runs, args, startup_ratio):
    """The whole-process pairs, the goals with their before, and the step breakdown."""
    size = args.paced_mib * MIB
    link = {}
    for name in ("loopback", "paced"):
        figures = {}
        for client in ("installer", "winhttp-8k", "winhttp", "wininet"):
            ok = good(runs["%s-%s" % (name, client)])
            key = "launch_s" if client == "installer" else "proc_wall_s"
            figures[client] = {
                "seconds": median_of(ok, key),
                "values": [float(r[key]) for r in ok if key in r],
                "cpu": median_of(ok, "proc_cpu_s"),
            }
        link[name] = figures
    previous = previous_tables(args.before)

    def ratio(name, over):
        mine, bare = link[name]["installer"][over], link[name]["winhttp-8k"][over]
        return mine / bare if mine and bare else None

    def per_100_mib(cpu):
        return cpu / (args.paced_mib / 100.0) if cpu is not None else None

    # Throughput is the inverse of the time, so the loopback goal is bare time / installer time.
    loop_ratio = ratio("loopback", "seconds")
    loop_ratio = 1 / loop_ratio if loop_ratio else None
    paced_ratio = ratio("paced", "seconds")
    cpu_mine = per_100_mib(link["paced"]["installer"]["cpu"])
    cpu_bare = per_100_mib(link["paced"]["winhttp-8k"]["cpu"])
    cpu_ratio = cpu_mine / cpu_bare if cpu_mine and cpu_bare else None
    loop_mbps = [size / link["loopback"][c]["seconds"] / 1e6 if link["loopback"][c]["seconds"]
                 else None for c in ("installer", "winhttp-8k")]
    goals = (
        ("loopback", "loopback, %d MiB: installer / bare 8 KiB process, throughput" %
         args.paced_mib, "%s (%s against %s MB/s)" % (fmt(loop_ratio, "%.2f"), fmt(loop_mbps[0]),
                                                      fmt(loop_mbps[1])),
         "≥ 0.95", at_least(loop_ratio, 0.95)),
        ("paced", "paced at %s, %d MiB: installer / bare 8 KiB process, time" % (
            rate_text(args.paced_rate), args.paced_mib),
         "%s (%s against %s s)" % (fmt(paced_ratio, "%.2f"),
                                   fmt(link["paced"]["installer"]["seconds"], "%.2f"),
                                   fmt(link["paced"]["winhttp-8k"]["seconds"], "%.2f")),
         "≤ 1.02", at_most(paced_ratio, 1.02)),
        ("cpu", "CPU per 100 MiB (paced): installer / bare 8 KiB process",
         "%s (%s against %s s)" % (fmt(cpu_ratio, "%.2f"), fmt(cpu_mine, "%.2f"),
                                   fmt(cpu_bare, "%.2f")),
         "≤ 1.1", at_most(cpu_ratio, 1.1)),
        ("startup", "start-up to first paint: installer / minimal window",
         fmt(startup_ratio, "%.2f"), "≤ 1.2", at_most(startup_ratio, 1.2)),
    )
    lines = [
        "",
        "## Goals",
        "",
        "Before: the goals table of `%s` when it has one, otherwise the figures of the round "
        "before." % os.path.relpath(args.before, args.root) if args.before else "",
        "",
        "| Goal | before | now | goal | met |",
        "|---|---|---|---|---|",
    ]
    goal_befores = []
    for key, name, now, goal, ok in goals:
        before = previous.get(("Goals", name), [None, None, GOALS_BEFORE[key]])[2]
        goal_befores.append((key, before))
        lines.append("| %s | %s | %s | %s | %s |" % (name, before, now, goal, met(ok)))

    lines += [
        "",
        "## Whole process",
        "",
        "Each program timed from outside (`process_clock.py`) from just before its start: the "
        "installer until its setup program (`launch_stamp`, %d MiB from the setup paths) "
        "starts, the bare loops until they exit; %d runs each, order rotated, median and "
        "range in seconds; CPU of the whole process per 100 MiB." % (args.paced_mib, args.runs),
        "",
        "| Program | loopback | range | CPU / 100 MiB | paced at %s | range | CPU / 100 MiB |" %
        rate_text(args.paced_rate),
        "|---|---|---|---|---|---|---|",
    ]
    names = (("installer", "installer, start to the setup program's launch"),
             ("winhttp-8k", "bare WinHTTP, 8 KiB reads (the baseline)"),
             ("winhttp", "bare WinHTTP, 1 MiB reads"),
             ("wininet", "bare WinINet, 64 KiB reads"))
    for client, title in names:
        cells = []
        for name in ("loopback", "paced"):
            f = link[name][client]
            cells += [fmt(f["seconds"], "%.2f"), spread(f["values"], "%.2f"),
                      fmt(per_100_mib(f["cpu"]), "%.2f")]
        lines.append("| %s | %s |" % (title, " | ".join(cells)))

    section = "Where the whole process's time goes"
    lines += [
        "",
        "## " + section,
        "",
        "Traced runs (`process_clock.py --trace`): the moments the program makes the calls "
        "that end each step, read from Wine's relay trace of those calls alone, from outside; "
        "the product has no timing code. Medians of %d traced runs in seconds; the last rows "
        "set the traced whole against the untraced one, which shows what tracing costs. "
        "Before: the same table of the earlier results page." % args.runs,
        "",
        "| Step | loopback before | loopback installer | loopback bare 8 KiB | paced before | "
        "paced installer | paced bare 8 KiB |",
        "|---|---|---|---|---|---|---|",
    ]
    mine = {n: step_medians(runs["%s-traced-installer" % n], WHOLE_STEPS + WINDOW_STEPS)
            for n in ("loopback", "paced")}
    bare = {n: step_medians(runs["%s-traced-winhttp-8k" % n], BARE_STEPS)
            for n in ("loopback", "paced")}

    def row(title, values):
        before = previous.get((section, title))
        cells = []
        for i, pair in enumerate(values):
            # Before: the earlier page's figure for the same program on the same link.
            earlier = [c for c in before[2 + 3 * i:4 + 3 * i] if c != "-"] if before else []
            cells += [earlier[0] if earlier else "-"] + [fmt(v, "%.3f") for v in pair]
        lines.append("| %s | %s |" % (title, " | ".join(cells)))

    for title, _, _ in WHOLE_STEPS + WINDOW_STEPS:
        row(title, [(mine[n][title], None) for n in ("loopback", "paced")])
    for title, _, _ in BARE_STEPS:
        row("bare: " + title, [(None, bare[n][title]) for n in ("loopback", "paced")])
    row("whole, traced", [(median_of(good(runs["%s-traced-installer" % n]), "launch_s"),
                           median_of(good(runs["%s-traced-winhttp-8k" % n]), "proc_wall_s"))
                          for n in ("loopback", "paced")])
    row("whole, untraced (table above)", [(link[n]["installer"]["seconds"],
                                           link[n]["winhttp-8k"]["seconds"])
                                          for n in ("loopback", "paced")])
    chart_goals = [(key, leading_number(before), ratio_now, bound)
                   for (key, before), ratio_now, bound in zip(
                       goal_befores, (loop_ratio, paced_ratio, cpu_ratio, startup_ratio),
                       (0.95, 1.02, 1.1, 1.2))]
    breakdown = {n: {"installer": [(t, mine[n][t]) for t, _, _ in WHOLE_STEPS],
                     "bare 8 KiB": [(t, bare[n][t]) for t, _, _ in BARE_STEPS]}
                 for n in ("loopback", "paced")}
    return lines, chart_goals, breakdown



def rate_text(rate):
    """nginx's rate units (k, m: KiB and MiB per second) in words."""
    units = {"k": "KiB/s", "m": "MiB/s"}
    return "%s %s" % (rate[:-1], units[rate[-1]]) if rate[-1:] in units else rate + " B/s"


def chart_path(results):
    return os.path.splitext(results)[0] + ".png"


def leading_number(text):
    match = re.match(r"\s*([0-9.]+)", text or "")
    return float(match.group(1)) if match else None


def draw_chart(path, m, args, loopback, goals, breakdown):
    """The in-process throughput, the goals before and now, and where the whole process's
    time goes; False when matplotlib is missing."""
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        return False
    figure, axes = plt.subplots(2, 2, figsize=(13, 9))
    names = [name for name, value in loopback if value]
    values = [value for name, value in loopback if value]
    bars = axes[0][0].barh(names, values, color=["#7582E1"] + ["#9aa0a6"] * (len(values) - 1))
    axes[0][0].invert_yaxis()
    axes[0][0].set_title("Loopback in one process, %d MiB (MB/s)" % args.size_mib, fontsize=10)
    for bar, value in zip(bars, values):
        axes[0][0].text(bar.get_width(), bar.get_y() + bar.get_height() / 2, " %.1f" % value,
                        va="center", fontsize=8)
    axes[0][0].margins(x=0.18)

    # Each goal as a ratio, before and now, against its bound.
    chart = axes[0][1]
    for row, (name, before, now, bound) in enumerate(goals):
        for offset, value, colour in ((-0.2, before, "#9aa0a6"), (0.2, now, "#7582E1")):
            if value is not None:
                chart.barh(row + offset, value, height=0.38, color=colour)
                chart.text(value, row + offset, " %.2f" % value, va="center", fontsize=8)
        chart.plot([bound, bound], [row - 0.45, row + 0.45], color="#c0392b")
    chart.set_yticks(range(len(goals)), [name for name, _, _, _ in goals], fontsize=8)
    chart.invert_yaxis()
    chart.set_title("Goals: installer / baseline, before (grey), now; bound in red",
                    fontsize=10)
    chart.margins(x=0.15)

    colours = plt.get_cmap("tab20").colors
    for chart, link in zip(axes[1], ("loopback", "paced")):
        steps = []
        for row, program in enumerate(("installer", "bare 8 KiB")):
            left = 0.0
            for step, value in breakdown[link][program]:
                if value is None:
                    continue
                label = None
                if step not in steps:
                    steps.append(step)
                    label = step
                chart.barh(row, value, left=left, color=colours[steps.index(step) % 20],
                           label=label)
                left += value
        chart.set_yticks([0, 1], ["installer", "bare 8 KiB"], fontsize=8)
        chart.invert_yaxis()
        chart.set_title("%s, %d MiB: where the whole process's time goes (s, traced)" % (
            link, args.paced_mib), fontsize=10)
    # Both panels colour the steps alike, so one legend serves them.
    handles, labels = axes[1][0].get_legend_handles_labels()
    figure.legend(handles, labels, loc="lower center", ncol=3, fontsize=7)
    figure.suptitle("%s, %s CPUs; %s; %s UTC" % (
        m["cpu"], m["cpus"], m["wine"],
        datetime.datetime.utcnow().strftime("%Y-%m-%d %H:%M")), fontsize=9)
    figure.tight_layout(rect=(0, 0.1, 1, 1))
    figure.savefig(path, dpi=100)
    plt.close(figure)
    return True


def report(args):
    out = args.out
    size_bytes = args.size_mib * MIB
    runs = {name: read_runs(out, name) for name in (
        "installer", "winhttp", "winhttp-8k", "wininet", "curl", "small", "small-winhttp-8k",
        "signature-pinned", "signature-unpinned", "startup-installer", "startup-floor",
        "startup-steps", "startup-steps-alone") + tuple(
            "%s-%s" % (link, client) for link in ("loopback", "paced") for client in (
                "installer", "winhttp-8k", "winhttp", "wininet", "traced-installer",
                "traced-winhttp-8k"))}

    a = median_mbps(runs["installer"])
    b = median_mbps(runs["winhttp"])
    b8 = median_mbps(runs["winhttp-8k"])
    i = median_mbps(runs["wininet"])
    c = median_mbps(runs["curl"])
    # Judged against the stronger of the two bare WinHTTP loops.
    bare = max(v for v in (b, b8, 0) if v is not None) or None
    a_over_b = a / bare if a and bare else None
    a_over_i = a / i if a and i else None
    b_over_c = bare / c if bare and c else None

    after_runs = good(runs["installer"])
    reports = median_of(after_runs, "reports")
    setpos = median_of(after_runs, "setpos")
    paints = median_of(after_runs, "paints")
    tail = median_of(after_runs, "tail_s")

    small_ws = [int(r["peak_ws"]) for r in good(runs["small"])]
    large_ws = [int(r["peak_ws"]) for r in after_runs]
    ws_small = statistics.median(small_ws) if small_ws else None
    ws_large = statistics.median(large_ws) if large_ws else None
    ws_delta = ws_large - ws_small if small_ws and large_ws else None
    bare_small = [int(r["peak_ws"]) for r in good(runs["small-winhttp-8k"])]
    bare_large = [int(r["peak_ws"]) for r in good(runs["winhttp-8k"])]
    bare_delta = (statistics.median(bare_large) - statistics.median(bare_small)
                  if bare_small and bare_large else None)

    start_inst = [float(r["paint_ms"]) for r in good(runs["startup-installer"])]
    start_floor = [float(r["paint_ms"]) for r in good(runs["startup-floor"])]
    si = statistics.median(start_inst) if start_inst else None
    sf = statistics.median(start_floor) if start_floor else None
    start_ratio = si / sf if si and sf else None

    sig_pinned = median_of(good(runs["signature-pinned"]), "seconds")
    sig_unpinned = median_of(good(runs["signature-unpinned"]), "seconds")

    root = args.root
    exe = os.path.join(args.build, "bin", "halvex-installer.exe")
    floor_exe = os.path.join(args.build, "bin", "size_floor.exe")
    exe_size = os.path.getsize(exe)
    floor_size = os.path.getsize(floor_exe)
    bitmap = os.path.getsize(os.path.join(root, "res", "background.bmp")) - 14
    rest = exe_size - bitmap
    over_floor = rest - floor_size

    unstripped = os.path.join(out, "halvex-installer.unstripped.exe")
    floor_unstripped = os.path.join(out, "size_floor.unstripped.exe")
    sections = section_sizes(exe)
    floor_sections = section_sizes(floor_exe)
    mine = map_contributions(os.path.join(out, "halvex-installer.map"))
    theirs = map_contributions(os.path.join(out, "size_floor.map"))
    symbols, symbols_total = unique_symbols(unstripped, floor_unstripped, 12)

    rows = [
        ("(a) installer's path: DownloadFile + progress sink + live window", fmt(a) + " MB/s",
         spread([mbps(r) for r in after_runs], "%.1f"), "", ""),
        ("(b) bare WinHTTP, 1 MiB reads, same Wine", fmt(b) + " MB/s",
         spread([mbps(r) for r in good(runs["winhttp"])], "%.1f"), "", ""),
        ("(b8) bare WinHTTP, 8 KiB reads (the downloader's piece size)", fmt(b8) + " MB/s",
         spread([mbps(r) for r in good(runs["winhttp-8k"])], "%.1f"), "", ""),
        ("(i) bare WinINet, 64 KiB reads, preconfigured proxy use, same Wine", fmt(i) + " MB/s",
         spread([mbps(r) for r in good(runs["wininet"])], "%.1f"), "", ""),
        ("(c) native curl, same URL, same disk", fmt(c) + " MB/s",
         spread([mbps(r) for r in good(runs["curl"])], "%.1f"), "", ""),
        ("a / the faster of b and b8", fmt(a_over_b, "%.2f"), "", "≥ 0.95",
         met(at_least(a_over_b, 0.95))),
        ("a/i (against WinINet, loopback)", fmt(a_over_i, "%.2f"), "", "≥ 1.0",
         met(at_least(a_over_i, 1.0))),
        ("the faster of b and b8 / c", fmt(b_over_c, "%.2f"), "", "", ""),
        ("signature check of %d MiB, publisher pinned" % args.size_mib,
         fmt(sig_pinned, "%.3f") + " s",
         spread([float(r["seconds"]) for r in good(runs["signature-pinned"])], "%.3f"), "", ""),
        ("signature check of %d MiB, no pin" % args.size_mib,
         fmt(sig_unpinned and sig_unpinned * 1e6, "%.1f") + " µs",
         spread([float(r["seconds"]) * 1e6 for r in good(runs["signature-unpinned"])], "%.1f"),
         "", ""),
        ("progress: reports per download", fmt(reports, "%.0f"), "", "", ""),
        ("progress: PBM_SETPOS received by the bar, paints of the window",
         "%s, %s" % (fmt(setpos, "%.0f"), fmt(paints, "%.0f")), "", "", ""),
        ("after the last report (close, reopen for holding)", fmt(tail, "%.2f") + " s",
         spread([float(r["tail_s"]) for r in after_runs], "%.2f"), "", ""),
        ("memory: peak working set, 1 MiB body", fmt(ws_small and ws_small / MIB, "%.2f") + " MiB",
         spread([v / MIB for v in small_ws], "%.2f"), "", ""),
        ("memory: peak working set, %d MiB body" % args.size_mib,
         fmt(ws_large and ws_large / MIB, "%.2f") + " MiB",
         spread([v / MIB for v in large_ws], "%.2f"), "", ""),
        ("memory: difference", fmt(ws_delta and ws_delta / MIB, "%.2f") + " MiB", "", "≤ 1 MiB",
         met(at_most(None if ws_delta is None else abs(ws_delta), MIB))),
        ("memory: the same difference for bare WinHTTP with 8 KiB reads (the platform's own)",
         fmt(bare_delta and bare_delta / MIB, "%.2f") + " MiB",
         "%s → %s" % (spread([v / MIB for v in bare_small], "%.2f"),
                      spread([v / MIB for v in bare_large], "%.2f")), "", ""),
        ("start-up to first paint: installer", fmt(si) + " ms", spread(start_inst, "%.0f"), "",
         ""),
        ("start-up to first paint: minimal Win32 window", fmt(sf) + " ms",
         spread(start_floor, "%.0f"), "", ""),
        ("start-up ratio", fmt(start_ratio, "%.2f"), "", "≤ 1.2",
         met(at_most(start_ratio, 1.2))),
        ("size: halvex-installer.exe", "%d B (%.1f KiB)" % (exe_size, exe_size / KIB), "", "", ""),
        ("size: bitmap 560×310×3 + header", "%d B" % bitmap, "", "", ""),
        ("size: everything else", "%d B (%.1f KiB)" % (rest, rest / KIB), "", "", ""),
        ("size: floor (regex + thread + function)", "%d B (%.1f KiB)" % (floor_size,
                                                                          floor_size / KIB),
         "", "", ""),
        ("size: everything else − floor", "%+.1f KiB" % (over_floor / KIB), "", "≤ 100 KiB",
         met(over_floor <= 100 * KIB)),
    ]
    icon = icon_bytes(os.path.join(root, "res", "halvex.ico"))

    table = ["| Figure | Median | Range over runs | Goal | Met |", "|---|---|---|---|---|"]
    table += ["| %s | %s | %s | %s | %s |" % row for row in rows]

    m = machine()
    lines = [
        "# Benchmark results",
        "",
        "Written by `bench/run.sh` on %s UTC." % datetime.datetime.utcnow().strftime(
            "%Y-%m-%d %H:%M"),
        "",
        "Machine: %s CPUs, %s, %s memory; %s; Linux %s; %s; %s. Load average when the report "
        "was written: %s." % (m["cpus"], m["cpu"], m["memory"], m["wine"], m["kernel"],
                               m["nginx"], m["curl"], " ".join(m["load"])),
        "",
        "Body: %d MiB of random bytes over HTTPS (TLS 1.2/1.3 as negotiated) from nginx on "
        "127.0.0.1, %d runs per figure, median shown; MB/s is 10^6 bytes per second." % (
            args.size_mib, args.runs),
        "",
    ] + table
    table_end = len(lines)
    whole, goals, breakdown = whole_process(runs, args, start_ratio)
    lines += whole
    lines += startup_breakdown(good(runs["startup-steps"]), good(runs["startup-steps-alone"]),
                               good(runs["startup-floor"]), si, sf)
    chart = chart_path(args.results)
    if draw_chart(chart, m, args, [("installer's path", a), ("WinHTTP 1 MiB", b),
                                   ("WinHTTP 8 KiB", b8), ("WinINet 64 KiB", i),
                                   ("curl (native)", c)], goals, breakdown):
        lines[table_end:table_end] = ["", "![Throughput, goals and the whole process](%s)" %
                                      os.path.basename(chart)]
    else:
        print("no chart: matplotlib is not available to " + sys.executable, file=sys.stderr)

    rsrc = sections.get(".rsrc", 0)
    lines += [
        "",
        "## Where the size beyond the bitmap comes from",
        "",
        "Everything else = %d B: the floor's %d B, the rest of the resources (%d B, of which "
        "the 128 × 128 × 32-bit icon image, stored as PNG, is %d B) and the installer's own code and data "
        "(%+d B)." % (rest, floor_size, rsrc - bitmap, icon,
                      rest - floor_size - (rsrc - bitmap)),
        "",
        "Sections of the stripped files (bytes):",
        "",
        "| Section | installer | floor | difference |",
        "|---|---|---|---|",
    ]
    for name in sorted(set(sections) | set(floor_sections),
                       key=lambda n: -(sections.get(n, 0) - floor_sections.get(n, 0))):
        lines.append("| %s | %d | %d | %+d |" % (name, sections.get(name, 0),
                                                 floor_sections.get(name, 0),
                                                 sections.get(name, 0) - floor_sections.get(name,
                                                                                            0)))
    lines += [
        "",
        "Bytes each input puts into those sections, from the link maps of unstripped links "
        "made with the build's own link commands (largest differences first):",
        "",
        "| Input | installer | floor | difference |",
        "|---|---|---|---|",
    ]
    deltas = sorted(set(mine) | set(theirs), key=lambda k: -(mine.get(k, 0) - theirs.get(k, 0)))
    for key in deltas:
        diff = mine.get(key, 0) - theirs.get(key, 0)
        if abs(diff) >= 512:
            lines.append("| %s | %d | %d | %+d |" % (key, mine.get(key, 0), theirs.get(key, 0),
                                                    diff))
    lines += [
        "",
        "Largest symbols of the installer that the floor does not have (%d bytes in all):" %
        symbols_total,
        "",
        "| Bytes | Symbol |",
        "|---|---|",
    ]
    for size, name in symbols:
        lines.append("| %d | `%s` |" % (size, name.replace("|", "\\|")[:140]))
    lines.append("")

    with open(args.results, "w") as f:
        f.write("\n".join(lines))
    print("\n".join(table))
    print("\nwritten to " + args.results)


def main():
    parser = argparse.ArgumentParser()
    sub = parser.add_subparsers(dest="command", required=True)
    pixel = sub.add_parser("pixel")
    pixel.add_argument("bmp")
    pixel.add_argument("x", type=int)
    pixel.add_argument("y", type=int)
    rep = sub.add_parser("report")
    for name in ("--out", "--build", "--root", "--results"):
        rep.add_argument(name, required=True)
    rep.add_argument("--size-mib", type=int, required=True)
    rep.add_argument("--paced-mib", type=int, required=True)
    rep.add_argument("--paced-rate", required=True)
    rep.add_argument("--runs", type=int, required=True)
    rep.add_argument("--before", help="an earlier results page, for the before figures")
    args = parser.parse_args()
    if args.command == "pixel":
        print(args.x, args.y, bmp_pixel(args.bmp, args.x, args.y))
    else:
        report(args)


if __name__ == "__main__":
    sys.exit(main())
