#!/usr/bin/env python3
"""report.py OUT BUILD PAGES MIB RUNS: from hyperfine's JSON (OUT/hyperfine-LINK.json) and
the key=value lines of clock.py and the launcher (OUT/*.txt) that bench/run.sh collected, writes
results.md, results.png and the JSON to PAGES; the before figures are the replaced page's."""

import datetime, json, os, re, statistics, subprocess, sys  # noqa: E401

from clock import BARE_STEPS, STEPS, WINDOW_STEPS

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LINKS = ("loopback", "paced")
PROGRAMS = (("installer", "installer, to its exit after the setup program"),
            ("winhttp-8k", "bare WinHTTP, 8 KiB reads (the baseline)"), ("winhttp",
            "bare WinHTTP, 1 MiB reads"), ("wininet", "bare WinINet, 64 KiB reads"))
# The figures of the page before, for goals it has no row of with this detail.
BEFORE = {"loopback": "0.86 (112.6 against 130.6 MB/s)", "paced": "0.94 (6.14 against 6.51 s)",
          "cpu": "1.19 (0.60 against 0.50 s)", "start-up": "1.53 (243.9 against 159.9 ms)",
          "memory": "+0.01 MiB", "size": "+71.9 KiB"}


def lines_of(out, name):
    """The key=value lines of one figure, as dicts."""
    path = os.path.join(out, name + ".txt")
    return [dict(p.split("=", 1) for p in line.split() if "=" in p)
            for line in (open(path) if os.path.exists(path) else []) if line.strip()]


def median(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def fmt(value, pattern="%.2f"):
    return "-" if value is None else pattern % value


def ratio(a, b):
    return a / b if a is not None and b else None


def against(a, b, pattern="%.2f", unit="s"):
    return "%s against %s %s" % (fmt(a, pattern), fmt(b, pattern), unit)


def previous_rows(path):
    """(section, first cell) to the cells of each table row of the page before."""
    rows, section = {}, None
    for line in open(path) if os.path.exists(path) else []:
        if line.startswith("## "):
            section = line[3:].strip()
        elif line.startswith("| "):
            cells = [c.strip() for c in line.strip().strip("|").split("|")]
            rows[(section, cells[0])] = cells
    return rows


def steps_of(runs, steps):
    """Median seconds of each step over the traced runs that show both its ends."""
    moments = []
    for run in runs:
        m = {k[3:-2]: float(v) for k, v in run.items() if k.startswith("at_")}
        moments.append(dict(m, start=0.0, end=float(run["wall_s"])))
    return {name: median([m[b] - m[a] for m in moments if a in m and b in m])
            for name, a, b in steps}


def main():
    out, build, pages, mib, runs = sys.argv[1:4] + [int(a) for a in sys.argv[4:6]]
    page = os.path.join(pages, "results.md")
    previous = previous_rows(page)
    whole = {}
    for link in LINKS:
        path = os.path.join(out, "hyperfine-%s.json" % link)
        if os.path.exists(path):
            record = json.load(open(path))
            with open(os.path.join(pages, "hyperfine-%s.json" % link), "w") as f:
                json.dump(record, f)  # the raw record, beside the page, on one line
            whole[link] = {r["command"]: r for r in record["results"]}

    def time(link, program, key="median"):
        return whole.get(link, {}).get(program, {}).get(key)

    def cpu(link, program):
        r = whole.get(link, {}).get(program)
        return (r["user"] + r["system"]) / (mib / 100) if r else None

    startup = {p: [float(r["paint_ms"]) for r in lines_of(out, "startup-" + p) if r["ok"] == "1"]
               for p in ("installer", "floor")}
    paint = {p: median(v) for p, v in startup.items()}
    memory = {(s, p): median([int(r["maxrss_kib"]) / 1024 for r in
                              lines_of(out, "memory-%s-%s" % (s, p))])
              for s in (1, mib) for p in ("installer", "winhttp-8k")}
    grown = {p: None if None in (memory[(1, p)], memory[(mib, p)]) else
             memory[(mib, p)] - memory[(1, p)] for p in ("installer", "winhttp-8k")}
    size = {n: os.path.getsize(os.path.join(build, "bin", n + ".exe"))
            for n in ("halvex-installer", "size_floor")}
    bitmap = os.path.getsize(os.path.join(ROOT, "res", "background.bmp")) - 14
    over = (size["halvex-installer"] - bitmap - size["size_floor"]) / 1024

    def versus(a, b, throughput=False, *detail):
        return ratio(b, a) if throughput else ratio(a, b), against(a, b, *detail)

    # (key, name, (figure, detail), bound, at most); throughput is the inverse of the time.
    goals = (
        ("loopback", "loopback, %d MiB, whole process: installer / bare 8 KiB process, "
         "throughput" % mib, versus(time("loopback", "installer"), time("loopback", "winhttp-8k"),
                                    True), 0.95, False),
        ("paced", "paced at 40 MiB/s, %d MiB, whole process: installer / bare 8 KiB process, "
         "time" % mib, versus(time("paced", "installer"), time("paced", "winhttp-8k")), 1.02, True),
        ("cpu", "CPU per 100 MiB (paced), whole process: installer / bare 8 KiB process",
         versus(cpu("paced", "installer"), cpu("paced", "winhttp-8k")), 1.1, True),
        ("start-up", "start-up to the first paint: installer / minimal window", versus(
            paint["installer"], paint["floor"], False, "%.1f", "ms"), 1.2, True),
        ("memory", "memory: the installer's peak grown from a 1 MiB to a %d MiB setup program, "
         "MiB" % mib, (grown["installer"], None), 1.0, True),
        ("size", "size: the installer less its bitmap, over the floor program, KiB", (over, None),
         100, True))
    load = " ".join(open("/proc/loadavg").read().split()[:3])
    cpu_name = re.search(r"model name\s*:\s*(.*)", open("/proc/cpuinfo").read()).group(1)
    stamp = datetime.datetime.utcnow().strftime("%Y-%m-%d %H:%M")
    lines = ["# Benchmark results", "",
             "Written by `bench/run.sh` on %s UTC. Machine: %d CPUs, %s; %s; %s; Linux %s. Load "
             "average when the page was written: %s." % (
                 stamp, os.cpu_count(), cpu_name, *(subprocess.run(
                     [c, "--version"], capture_output=True, text=True).stdout.strip()
                     for c in ("wine", "hyperfine")), os.uname().release, load),
             "", "## Goals", "", "Before: the goals table of the page this one replaced. Each "
             "ratio is taken side by side in one run.", "",
             "| Goal | before | now | goal | met |", "|---|---|---|---|---|"]
    chart_goals = []
    for key, name, (value, detail), bound, at_most in goals:
        earlier = [c[2] for (s, first), c in previous.items()
                   if s == "Goals" and first.lower().startswith(key)]
        before = earlier[0] if earlier and not BEFORE[key].startswith(earlier[0] + " ") \
            else BEFORE[key]
        now = fmt(value, {"memory": "%+.2f MiB", "size": "%+.1f KiB"}.get(key, "%.2f"))
        verdict = "-" if value is None else \
            "yes" if (value <= bound if at_most else value >= bound) else "**no**"
        lines.append("| %s | %s | %s | %s %s | %s |" % (
            name, before, now + (" (%s)" % detail if detail else ""), "≤" if at_most else "≥",
            bound, verdict))
        if detail:
            chart_goals.append((key, float(before.split()[0]), value, bound))

    lines += ["", "![Goals and where the whole process's time goes](results.png)", "",
              "## Whole process", "",
              "hyperfine (records: `hyperfine-LINK.json`), %d runs of each command after a "
              "warm-up, `sync` before each: the installer until it ends after its setup program "
              "(`setup_standin`, %d MiB, exits at once), the bare loops until they exit. Median "
              "and range in s; CPU (user and system, mean) per 100 MiB." % (runs, mib), "",
              "| Program | loopback | range | CPU / 100 MiB | paced at 40 MiB/s | range | "
              "CPU / 100 MiB |", "|---|---|---|---|---|---|---|"]
    for program, title in PROGRAMS:
        if any(program in whole.get(link, {}) for link in LINKS):
            cells = [[fmt(time(link, program)), "%s–%s" % (fmt(time(link, program, "min")),
                      fmt(time(link, program, "max"))), fmt(cpu(link, program))] for link in LINKS]
            lines.append("| %s | %s |" % (title, " | ".join(cells[0] + cells[1])))

    section = "Where the whole process's time goes"
    traced = {(link, p): lines_of(out, "trace-%s-%s" % (link, p))
              for link in LINKS for p in ("installer", "winhttp-8k")}
    mine = {link: steps_of(traced[(link, "installer")], STEPS + WINDOW_STEPS) for link in LINKS}
    bare = {link: steps_of(traced[(link, "winhttp-8k")], BARE_STEPS) for link in LINKS}
    lines += ["", "## " + section, "",
              "Traced runs (`clock.py --trace`, %d of each): when the program makes the calls "
              "that end each step, read from Wine's relay trace of those calls alone; the "
              "product has no timing code. Medians in s; the last rows show what tracing costs. "
              "Before: the replaced page's." % runs, "",
              "| Step | loopback before | loopback installer | loopback bare 8 KiB | paced before "
              "| paced installer | paced bare 8 KiB |", "|---|---|---|---|---|---|---|"]

    def row(title, pairs):
        earlier, cells = previous.get((section, title)), []
        for i, pair in enumerate(pairs):
            old = [c for c in earlier[2 + 3 * i:4 + 3 * i] if c != "-"] if earlier else []
            cells += [old[0] if old else "-"] + [fmt(v, "%.3f") for v in pair]
        lines.append("| %s | %s |" % (title, " | ".join(cells)))

    for title, _, _ in STEPS + WINDOW_STEPS:
        row(title, [(mine[link][title], None) for link in LINKS])
    for title, _, _ in BARE_STEPS:
        row(title, [(None, bare[link][title]) for link in LINKS])
    row("whole, traced", [[median([float(r["wall_s"]) for r in traced[(link, p)]])
                           for p in ("installer", "winhttp-8k")] for link in LINKS])
    row("whole, untraced (hyperfine)", [(time(link, "installer"), time(link, "winhttp-8k"))
                                        for link in LINKS])

    lines += ["", "## Start-up, memory and size", "",
              "Start-up: `startup_launcher`, from before `CreateProcessW` until the window shows "
              "its painting's colour at a point (1 ms polls), the worker downloading at 2 MiB/s; "
              "%d rounds of the programs in turn after a warm-up. Memory: the peak resident set "
              "(`clock.py`), median of 3. Size: the stripped files." % (runs * 4), "",
              "| Figure | installer | minimal window, bare 8 KiB or floor |",
              "|---|---|---|", "| start-up to the first paint, median (range), ms | %s |" %
              " | ".join("%s (%s)" % (fmt(median(v), "%.1f"), "%.0f–%.0f" % (min(v), max(v))
                                      if v else "-") for v in startup.values())]
    for s in (1, mib):
        lines.append("| peak memory, %d MiB setup program, MiB | %s |" % (s, " | ".join(
            fmt(memory[(s, p)]) for p in ("installer", "winhttp-8k"))))
    lines += ["| size, bytes (the installer's bitmap: %d) | %d | %d |" % (
        bitmap, size["halvex-installer"], size["size_floor"]), ""]
    draw_chart(os.path.join(pages, "results.png"), chart_goals, mine, bare, stamp)
    with open(page, "w") as f:
        f.write("\n".join(lines))
    print("\n".join(lines[lines.index("## Goals"):lines.index("## Whole process")]))
    print("written to " + page)


def draw_chart(path, goals, mine, bare, stamp):
    """The goals before and now, and where the whole process's time goes."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    figure, axes = plt.subplots(1, 3, figsize=(16, 5.5))
    for row, (name, before, now, bound) in enumerate(goals):
        for offset, value, colour in ((-0.2, before, "#9aa0a6"), (0.2, now, "#7582E1")):
            if value is not None:
                axes[0].barh(row + offset, value, height=0.38, color=colour)
                axes[0].text(value, row + offset, " %.2f" % value, va="center", fontsize=8)
        axes[0].plot([bound, bound], [row - 0.45, row + 0.45], color="#c0392b")
    axes[0].set_yticks(range(len(goals)), [g[0] for g in goals], fontsize=8)
    axes[0].invert_yaxis()
    axes[0].set_title("Goals: installer / baseline, before (grey), now; bound red", fontsize=10)
    colours, names = plt.get_cmap("tab20").colors, []
    for chart, link in zip(axes[1:], LINKS):
        for row, steps in enumerate((mine[link], bare[link])):
            left = 0.0
            for step, value in steps.items():
                name = step.replace("bare: ", "")
                if value is None or name.startswith("window thread"):
                    continue
                label = None if name in names else name
                names += [label] if label else []
                chart.barh(row, value, left=left, color=colours[names.index(name) % 20],
                           label=label)
                left += value
        chart.set_yticks([0, 1], ["installer", "bare 8 KiB"], fontsize=8)
        chart.invert_yaxis()
        chart.set_title("%s: where the whole process's time goes (s, traced)" % link, fontsize=10)
    figure.legend(loc="lower center", ncol=3, fontsize=7)
    figure.suptitle("bench/run.sh, %s UTC" % stamp, fontsize=9)
    figure.tight_layout(rect=(0, 0.22, 1, 1))
    figure.savefig(path, dpi=100)
    plt.close(figure)


if __name__ == "__main__":
    sys.exit(main())
