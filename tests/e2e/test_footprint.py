"""The elevated footprint, held by runs of the real installer: every library it loads, every
process it starts, every key of the user's registry it opens or tries to open, and every file or
folder written on drive C or in its own folder must be allowed by the footprint block under the
table in docs/security.md.

Wine traces the installer alone: WINEDEBUG is given to its start only, with the prefix's server,
desktop shell and services already running, and only its own process's lines are read (a program
it starts may inherit the variable). inotify cannot tell who wrote, so nothing else is
started while it watches: no UI driver, no screenshot; the box is found and answered, and the
window closed, through X. On the support page's road the desktop shell is stopped, so that a
road that opened the page itself, elevated, would show as a process the installer started."""

import contextlib
import fnmatch
import getpass
import os
import re
import subprocess
import tempfile
import time

from harness import (EBWEBVIEW, GLYPH_CENTRE, MAIN_TITLE, PREFIX, RELEASE, RUNS, SOURCE,
                     SUPPORT_CAPTION, USER_PROFILE, WINE_ENV, EndToEndTest, desktop_shell_pids,
                     desktop_shell_stopped, reg, standin_bytes, ui, wait_for, windows_path, wine,
                     xdotool)

ALLOW_LIST = os.path.join(SOURCE, "docs", "security.md")
TRACE = "-all,+pid,+loaddll,+process,+reg,+relay"
RELAY_KEY = "HKCU\\Software\\Wine\\Debug"
RELAYED = "DuplicateHandle;RtlExitUserThread"
INTERNET_SETTINGS = "hkcu\\software\\microsoft\\windows\\currentversion\\internet settings"
DRIVE_C = os.path.join(PREFIX, "drive_c")
RECORD_FOLDER = os.path.join(USER_PROFILE, ".halvex")
KINDS = ("load", "process", "key")
FILE_EVENTS = "create,modify,close_write,attrib,delete,delete_self,moved_from,moved_to"

# Lower case by then: "<pid>:<tid>:trace:<channel>:<function> ..." or, from the relay,
# "<pid>:<tid>:call <dll>.<function>(<arguments>) ...".
LINE = re.compile(r"^([0-9a-f]+):([0-9a-f]+):(?:trace:(\w+):(\w+) |(call) ([\w.]+)\()(.*)$")
LOADED = re.compile(r'^loaded l"(.*?)" at ')
# The image a process was made from, as Wine resolved it.
PROCESS = re.compile(r'^l".*?" image l"(.*?)" cmdline ')
KEY_OPEN = re.compile(r'^\((?:0x)?([0-9a-f]+|\(nil\)),l"(.*?)",')
KEY_OPENED = re.compile(r"^<- (?:0x)?([0-9a-f]+|\(nil\))")
DUPLICATE = re.compile(r"^[0-9a-f]+,0*([0-9a-f]+),")


def allow_list():
    """[(kind, pattern, row)] from the footprint block."""
    with open(ALLOW_LIST, encoding="utf-8") as f:
        block = re.search(r"^```footprint\n(.*?)^```", f.read(), re.S | re.M)
    entries = []
    for line in block.group(1).splitlines() if block else []:
        body, _, row = line.partition("#")
        fields = body.split(None, 1)
        if len(fields) == 2:
            entries.append((fields[0], fields[1].strip().lower(), row.strip()))
    return entries


def not_allowed(observed, entries):
    return sorted((kind, item) for kind, item in observed
                  if not any(k == kind and fnmatch.fnmatchcase(item, pattern)
                             for k, pattern, _ in entries))


class Names:
    """Windows and Unix names made comparable: lower case, no \\??\\, the places the footprint
    names by variable, and the random parts of the clean room's and the record's names."""

    def __init__(self, installer_folder):
        self.places = [
            (windows_path(installer_folder).lower(), "<installer folder>"),
            ("c:\\users\\" + getpass.getuser().lower(), "%userprofile%"),
            ("c:\\windows", "%systemroot%"),
        ]

    def windows(self, name):
        name = name.lower()
        for prefix in ("\\??\\", "\\\\?\\"):
            if name.startswith(prefix):
                name = name[len(prefix):]
        name = re.sub(r"^\\registry\\user\\s-1-5-[0-9-]+", "hkcu", name)
        name = re.sub(r"^\\registry\\machine", "hklm", name)
        for place, variable in self.places:
            if name == place or name.startswith(place + "\\"):
                name = variable + name[len(place):]
        name = re.sub(r"halvex-[0-9a-f]{32}", "halvex-<room>", name)
        return re.sub(r"config\.toml\.[0-9a-f]{32}\.tmp", "config.toml.<random>.tmp", name)

    def unix(self, path):
        path = path.rstrip("/")
        if path == DRIVE_C or path.startswith(DRIVE_C + "/"):
            return self.windows("c:" + path[len(DRIVE_C):].replace("/", "\\"))
        return self.windows(windows_path(path))


def traced(log_path, names):
    """The loads, process starts and user-registry keys of the process Wine started first (the
    installer), as (kind, name). +reg gives a key's root handle and relative name, then the
    handle it opened, per thread; crypt32 works on duplicates of its store keys, which only the
    relay of DuplicateHandle shows (without the new handle): when the thread duplicates the key it
    opened last, its next open from a handle not opened since is taken to be from the duplicate."""
    with open(log_path, encoding="utf-8", errors="replace") as f:
        lines = [LINE.match(line.rstrip("\n").lower()) for line in f]
    lines = [(m[1], m[2], m[3] or m[5], m[4] or m[6], m[7]) for m in lines if m]
    if not lines:
        return set()
    installer = lines[0][0]
    items, handles, pending, duplicated, last = set(), {}, {}, {}, {}
    for pid, tid, kind, function, text in lines:
        if pid != installer:
            continue
        if kind == "call" and function.endswith(".duplicatehandle"):
            source = DUPLICATE.match(text).group(1)
            if source == last.get(tid):
                duplicated[tid] = (source, set())
        elif kind == "loaddll" and LOADED.match(text):
            items.add(("load", names.windows(unescape(LOADED.match(text).group(1)))))
        elif kind == "process" and function == "ntcreateuserprocess" and PROCESS.match(text):
            items.add(("process", names.windows(unescape(PROCESS.match(text).group(1)))))
        elif kind == "reg" and function in ("ntopenkeyex", "ntcreatekey") and KEY_OPEN.match(text):
            root, name = KEY_OPEN.match(text).groups()
            if tid in duplicated:
                source, opened = duplicated.pop(tid)
                if root != source and root not in opened:
                    handles[root] = handles[source]
            path = unescape(name)
            if root != "(nil)":
                path = handles.get(root, "?") + "\\" + path
            pending[tid] = path.rstrip("\\")
            if not path.startswith("\\registry\\machine"):
                items.add(("key", names.windows(pending[tid])))
        elif kind == "reg" and KEY_OPENED.match(text) and tid in pending:
            handle = KEY_OPENED.match(text).group(1)
            handles[handle] = pending.pop(tid)
            last[tid] = handle
            if tid in duplicated:
                duplicated[tid][1].add(handle)
    return items


def unescape(text):
    """A name as Wine's debug output quotes it."""
    return re.sub(r"\\(.)", r"\1", text)


@contextlib.contextmanager
def file_watch(folders, names):
    """inotify on the folders and everything below them for the block; yields a list that then
    holds (event, normalised name) of every create, write, attribute change, delete and move."""
    events = []
    with tempfile.TemporaryDirectory() as scratch:
        out, err = os.path.join(scratch, "events"), os.path.join(scratch, "watch")
        with open(out, "wb") as stdout, open(err, "wb") as stderr:
            watcher = subprocess.Popen(
                ["inotifywait", "-m", "-r", "--format", "%e|%w%f", "-e", FILE_EVENTS] + folders,
                stdout=stdout, stderr=stderr, stdin=subprocess.DEVNULL)
        try:
            def established():
                with open(err, encoding="utf-8", errors="replace") as f:
                    return "Watches established" in f.read()
            if not wait_for(established, 300, 0.5):
                raise RuntimeError("inotifywait set no watches: " + open(err).read()[-2000:])
            yield events
            # Whatever the run wrote last has been reported once nothing more comes.
            size = -1
            while size != os.path.getsize(out):
                size = os.path.getsize(out)
                time.sleep(1)
        finally:
            watcher.terminate()
            watcher.wait(30)
        with open(out, encoding="utf-8", errors="replace") as f:
            for line in f:
                event, _, path = line.rstrip("\n").partition("|")
                events.append((event.lower(), names.unix(path)))


@contextlib.contextmanager
def relay_settings(**values):
    """Wine's relay settings (HKCU\\Software\\Wine\\Debug) set for the block, then put back."""
    previous = {}
    for name, value in values.items():
        found = wine(["reg", "query", RELAY_KEY, "/v", name])
        lines = [line.split("REG_SZ", 1)[1].strip() for line in
                 found.stdout.decode(errors="replace").splitlines() if "REG_SZ" in line]
        previous[name] = lines[0] if found.returncode == 0 and lines else None
        reg("add", RELAY_KEY, "/v", name, "/d", value, "/f")
    try:
        yield
    finally:
        for name, value in previous.items():
            if value is None:
                reg("delete", RELAY_KEY, "/v", name, "/f")
            else:
                reg("add", RELAY_KEY, "/v", name, "/d", value, "/f")


@contextlib.contextmanager
def quiet_prefix():
    """The prefix's desktop shell up and held for the block: it ends with the last program of
    the prefix, so an idle console program (a prompt waiting on a pipe) keeps it. The relay
    shows only the calls the trace reader needs, from every library: threads end through
    kernel32, which it leaves out by default."""
    keeper = subprocess.Popen(["wine", "cmd", "/c", "set /p x="], env=WINE_ENV,
                              stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    try:
        with relay_settings(RelayInclude=RELAYED, RelayFromExclude=""):
            ui("window", "--class", "NoSuchWindow", timeout=0)  # brings the desktop shell up
            if not wait_for(desktop_shell_pids, 120, 0.5):
                raise RuntimeError("the desktop shell did not start")
            yield
    finally:
        keeper.stdin.close()
        keeper.wait(60)


def x_window(name):
    found = subprocess.run(["xdotool", "search", "--name", "^%s$" % name], env=WINE_ENV,
                           capture_output=True, timeout=30)
    return found.stdout.split()[0].decode() if found.stdout.split() else None


class FootprintTest(EndToEndTest):
    def test_the_main_job_and_the_support_page_stay_inside_the_footprint(self):
        entries = allow_list()
        self.assertTrue(entries, "no footprint block in " + ALLOW_LIST)
        with quiet_prefix():
            for road in ("main job", "support page"):
                with self.subTest(road=road):
                    observed, controls = self.traced_run(road)
                    missing = [name for name, seen in controls.items() if not seen]
                    missing += sorted("a key's root: " + name for kind, name in observed
                                      if kind == "key" and name.startswith("?"))
                    self.assertEqual(missing, [], "trace not understood: no " + ", ".join(missing))
                    refused = not_allowed(observed, entries)
                    if refused:
                        self.fail("not allowed by the footprint block in docs/security.md:\n"
                                  + "\n".join("%-8s %s" % item for item in refused))

    def traced_run(self, road):
        """Runs one road with the installer traced and its folders watched; returns what it
        did as {(kind, name)} and whether each positive control was seen."""
        support = road == "support page"
        os.makedirs(RECORD_FOLDER, exist_ok=True)
        with contextlib.suppress(FileNotFoundError):
            os.remove(os.path.join(RECORD_FOLDER, "config.toml"))  # so the record is written
        with contextlib.ExitStack() as stack:
            server = stack.enter_context(self.vendor_server())
            for path in (RELEASE, EBWEBVIEW):
                if support:
                    server.route(path, status=404, body=b"gone")
                else:
                    server.route(path, body=standin_bytes())
            if support:
                # Registered before the trace starts: reg is a Wine program too.
                record = os.path.join(RUNS, "footprint-browser.txt")
                stack.enter_context(self.browser_recorder(record))
            events = []

            def watch(run):
                events.append(stack.enter_context(file_watch([DRIVE_C, run.cwd], Names(run.cwd))))

            run = stack.enter_context(self.installer(
                "footprint-" + road.replace(" ", "-"), beside=(), before_start=watch,
                environment={"WINEDEBUG": TRACE}))
            if support:
                self.answer_the_box_with_the_shell_stopped(run)
            self.assertEqual(run.wait_exit(300), 0)
        observed = traced(run.log.name, Names(run.cwd))
        changed = {("file", name) for _, name in events[0]}
        names = {kind: {name for k, name in observed if k == kind} for kind in KINDS}
        room = "%systemroot%\\temp\\halvex-<room>"
        controls = {
            "winhttp.dll from System32": "%systemroot%\\system32\\winhttp.dll" in names["load"],
            "Internet Settings key": any(k.startswith(INTERNET_SETTINGS) for k in names["key"]),
            "clean room made": ("create,isdir", room) in events[0],
            "clean room removed": ("delete,isdir", room) in events[0],
            "record written": ("moved_to", "%userprofile%\\.halvex\\config.toml") in events[0],
        }
        if support:
            controls["end of the worker after OK"] = worker_ended(run.log.name)
        else:
            controls["stand-in started"] = room + "\\halvex-nefo-setup.exe" in names["process"]
        return observed | changed, controls

    def answer_the_box_with_the_shell_stopped(self, run):
        """OK on the failed download's box, given through X, with the desktop shell stopped so
        that it cannot take the support page; then, once the worker has ended, the window is
        closed by its glyph."""
        box = wait_for(lambda: x_window(SUPPORT_CAPTION), 180, 0.5)
        self.assertIsNotNone(box, "no box after the failed download")
        with desktop_shell_stopped():
            xdotool("windowfocus", box, "key", "Return")
            self.assertTrue(wait_for(lambda: x_window(SUPPORT_CAPTION) is None, 60, 0.5),
                            "the box did not take OK")
            wait_for(lambda: worker_ended(run.log.name), 180, 0.5)
        window = x_window(MAIN_TITLE)
        self.assertIsNotNone(window, "the installer's window went away after the box")
        xdotool("mousemove", "--window", window, *GLYPH_CENTRE, "click", "1")


def worker_ended(log_path):
    """Whether the thread that downloaded (it loads winhttp) has ended."""
    with open(log_path, encoding="utf-8", errors="replace") as f:
        text = f.read().lower()
    worker = re.search(r"^[0-9a-f]+:([0-9a-f]+):trace:loaddll:\w+ loaded l\"[^\"]*winhttp\.dll",
                       text, re.M)
    ended = r"^[0-9a-f]+:%s:call [\w.]*exit(user)?thread\(" % (worker.group(1) if worker else "-")
    return bool(worker) and re.search(ended, text, re.M) is not None
