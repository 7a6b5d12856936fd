"""An elevated installer among places that unelevated processes control: what lies beside it
must neither be loaded into it nor be run in place of what it downloaded, and links in the
user's record folder must not steer its reads and writes elsewhere."""

import contextlib
import getpass
import glob
import ntpath
import os
import shutil
import unittest

from harness import (BIN, EBWEBVIEW, PREFIX, RELEASE, SAVE_NAME, STANDIN_TITLE, USER_PROFILE,
                     WINE_ENV, EndToEndTest, end_processes, reg, standin_bytes, ui, wait_for,
                     windows_path, wine)

# crypt32 is delay-loaded too, but cannot be planted here: Wine's own winhttp delay-loads it
# through a search that includes the program's folder (Windows applies the process's System32
# limit to it); tests/platform/pe_image_test.cpp shows it is not imported at start.
PLANTED_NAMES = ("winhttp", "comctl32", "wintrust", "userenv")
PLANTED = [os.path.join(BIN, "planted", name + ".dll") for name in PLANTED_NAMES]
FILE_PROBE = os.path.join(BIN, "net_file_probe.exe")
# Bits of the probe's exit code: writing, renaming and deleting refused by sharing; reading,
# too, while the partly written file is marked for deletion.
WRITE_RENAME_DELETE_REFUSED = 1 | 2 | 4
# What any unelevated process of the user can write for the programs the user starts,
# elevated ones included: a Windows folder of its own, a library folder, a profiler.
USER_ENVIRONMENT = [
    ("HKCU\\Environment", "windir", "C:\\planted\\windir"),
    ("HKCU\\Environment", "PATH", "C:\\planted\\path"),
    ("HKCU\\Environment", "COR_ENABLE_PROFILING", "1"),
    ("HKCU\\Environment", "COR_PROFILER_PATH", "C:\\planted\\profiler.dll"),
    ("HKCU\\Volatile Environment", "COR_PROFILER", "{0badc0de-0000-0000-0000-000000000000}"),
]


class DllPlantingTest(EndToEndTest):
    def test_dlls_planted_beside_the_installer_are_never_loaded(self):
        # Wine prefers its own DLLs unless told otherwise; "native first" searches like Windows.
        overrides = WINE_ENV["WINEDLLOVERRIDES"] + ";%s=n,b" % ",".join(PLANTED_NAMES)
        with self.vendor_server() as server:
            server.route(RELEASE, body=standin_bytes())
            server.route(EBWEBVIEW, body=standin_bytes())
            with self.installer("planted-dlls", environment={"WINEDLLOVERRIDES": overrides},
                                beside=PLANTED) as run:
                self.assertEqual(run.wait_exit(120), 0)
            self.assertEqual(len(server.requests), 1)

        self.assertEqual(glob.glob(os.path.join(run.cwd, "*.loaded")), [])
        self.assertEqual(len(run.standin_runs()), 1, "the installer did not get its work done")
        self.assertFalse(os.path.exists(run.setup_path))


class CleanRoomTest(EndToEndTest):
    def test_a_library_planted_in_the_users_folder_is_not_loaded_by_the_setup_program(self):
        # Before the clean room, the elevated setup program ran from the user's folder and
        # found a library it loads by bare name there first.
        planted = os.path.join(BIN, "planted", "setup_helper.dll")
        with self.vendor_server() as server:
            server.route(RELEASE, body=standin_bytes())
            server.route(EBWEBVIEW, body=standin_bytes())
            with self.installer("planted-setup-library", beside=[planted],
                                standin={"load": "setup_helper.dll"}) as run:
                self.assertEqual(run.wait_exit(120), 0)
        self.assertEqual(len(run.standin_runs()), 1, "the setup program did not run")
        self.assertFalse(os.path.exists(os.path.join(run.cwd, "setup_helper.dll.loaded")),
                         "the planted library ran in the elevated setup program")


    def test_the_users_environment_values_do_not_reach_the_setup_program(self):
        with self.vendor_server() as server, user_environment(USER_ENVIRONMENT):
            server.route(RELEASE, body=standin_bytes())
            server.route(EBWEBVIEW, body=standin_bytes())
            with self.installer("user-environment") as run:
                self.assertEqual(run.wait_exit(120), 0)
        seen = run.standin_environment()
        self.assertEqual(seen.get("WINDIR", "").lower(), "c:\\windows")
        for _, name, value in USER_ENVIRONMENT:
            self.assertNotIn(value.lower(), seen.get(name.upper(), "").lower(), name)
        # What it needs to find the account and its folders.
        profile = ntpath.join("c:\\users", getpass.getuser())
        account = {"USERPROFILE": profile, "HOMEDRIVE": "c:", "HOMEPATH": profile[2:],
                   "USERNAME": getpass.getuser(), "APPDATA": profile + "\\appdata\\roaming",
                   "LOCALAPPDATA": profile + "\\appdata\\local"}
        self.assertEqual({name: seen.get(name, "").lower() for name in account}, account)
        self.assertTrue(seen.get("USERDOMAIN"), "no USERDOMAIN")


@contextlib.contextmanager
def user_environment(values):
    """Writes (key, name, value) into the user's environment keys for the block; Wine, like
    Windows, puts them into every process it starts from then on."""
    for key, name, value in values:
        reg("add", key, "/v", name, "/d", value, "/f")
    try:
        yield
    finally:
        for key, name, _ in values:
            reg("delete", key, "/v", name, "/f")


class SwappedSetupTest(EndToEndTest):
    def test_downloaded_setup_cannot_be_changed_by_another_process_before_or_while_it_runs(self):
        with self.vendor_server() as server:
            server.route(EBWEBVIEW, body=standin_bytes(), pause_at=0.5)
            server.route(RELEASE, body=standin_bytes(), pause_at=0.5)
            # The stand-in stays until it is ended below.
            with self.installer("swapped-setup", standin_seconds=600) as run:
                self.assertIsNotNone(run.window("visible"))
                self.assertTrue(wait_for(lambda: os.path.exists(run.setup_path), 60))
                probe = wine([FILE_PROBE, "probe", windows_path(run.setup_path)])
                self.assertEqual(probe.returncode, WRITE_RENAME_DELETE_REFUSED)
                server.resume()
                standin = ui("window", "--title", STANDIN_TITLE, "--state", "visible", timeout=60)
                self.assertTrue(standin["ok"], "the setup program's window never showed")
                probe = wine([FILE_PROBE, "probe", windows_path(run.setup_path)])
                self.assertEqual(probe.returncode & WRITE_RENAME_DELETE_REFUSED,
                                 WRITE_RENAME_DELETE_REFUSED, "changed while it runs")
                self.assertTrue(end_processes(SAVE_NAME))
                self.assertEqual(run.wait_exit(120), 0)

        runs = run.standin_runs()
        self.assertEqual(len(runs), 1, "the downloaded program did not run")
        self.assertFalse(os.path.exists(run.setup_path))


def snapshot(folder, itself=True):
    """Names, bytes, link counts and Wine's stored DOS attributes of a folder's files, and of the
    folder itself unless told not to."""
    def facts(path):
        attributes = dict((name, os.getxattr(path, name, follow_symlinks=False))
                          for name in os.listxattr(path, follow_symlinks=False))
        data = None
        if not os.path.isdir(path):
            with open(path, "rb") as f:
                data = f.read()
        return data, os.lstat(path).st_nlink, attributes
    return {name: facts(os.path.join(folder, name)) for name in ["."] * itself + os.listdir(folder)}


class RecordLinkTest(EndToEndTest):
    """The record folder or file made a link to a place of the attacker's choosing (a Unix
    symbolic link stands in for a junction under Wine): the record is left alone."""

    @contextlib.contextmanager
    def record_folder_aside(self):
        folder = os.path.join(USER_PROFILE, ".halvex")
        aside = folder + "-aside"
        if os.path.lexists(folder):
            os.rename(folder, aside)
        elsewhere = os.path.join(PREFIX, "drive_c", "elsewhere")
        os.makedirs(elsewhere)
        with open(os.path.join(elsewhere, "config.toml"), "wb") as f:
            f.write(b"[[software]]\r\nname = \"secret\"\r\nproduct_id = \"9\"\r\n")
        with open(os.path.join(elsewhere, "other.txt"), "wb") as f:
            f.write(b"kept")
        try:
            yield folder, elsewhere
        finally:
            shutil.rmtree(elsewhere)
            if os.path.islink(folder) or os.path.isfile(folder):
                os.unlink(folder)
            else:
                shutil.rmtree(folder, ignore_errors=True)
            if os.path.lexists(aside):
                os.rename(aside, folder)

    def test_links_in_the_record_folder_are_left_alone_and_the_install_goes_on(self):
        target = lambda elsewhere: os.path.join(elsewhere, "config.toml")  # noqa: E731
        stagings = [
            ("folder-symlink", lambda folder, elsewhere: os.symlink(elsewhere, folder)),
            ("file-symlink", lambda folder, elsewhere: (
                os.mkdir(folder), os.symlink(target(elsewhere), os.path.join(folder, "config.toml")))),
            ("file-hardlink", lambda folder, elsewhere: (
                os.mkdir(folder), os.link(target(elsewhere), os.path.join(folder, "config.toml")))),
            # The control: in a plain folder of the user's, the same run writes the record.
            ("plain-folder", lambda folder, elsewhere: os.mkdir(folder)),
        ]
        for name, stage in stagings:
            with self.subTest(name), self.record_folder_aside() as (folder, elsewhere):
                stage(folder, elsewhere)
                # The record folder itself is the user's real one when only its file is a link.
                before = snapshot(elsewhere), snapshot(folder, itself=False)
                with self.vendor_server() as server:
                    server.route(EBWEBVIEW, body=standin_bytes())
                    with self.installer("record-" + name) as run:
                        self.assertEqual(run.wait_exit(120), 0)
                self.assertEqual(len(run.standin_runs()), 1, "the install did not go on")
                self.assertEqual(snapshot(elsewhere), before[0])
                self.assertEqual(snapshot(folder, itself=False) == before[1], name != "plain-folder")


if __name__ == "__main__":
    unittest.main()
