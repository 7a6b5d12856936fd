"""An elevated installer started from a folder that anyone can write: what lies there must
neither be loaded into it nor be run in place of what it downloaded."""

import glob
import os
import unittest

from harness import BIN, WINE_ENV, EndToEndTest, standin_bytes, wait_for, wine, windows_path

RELEASE = "/halvex-nefo/release"
EBWEBVIEW = "/halvex-nefo/ebwebview"
# crypt32 is delay-loaded too, but cannot be planted here: Wine's own winhttp delay-loads it
# through a search that includes the program's folder (Windows applies the process's System32
# limit to it); tests/platform/pe_image_test.cpp shows it is not imported at start.
PLANTED_NAMES = ("winhttp", "comctl32", "wintrust")
PLANTED = [os.path.join(BIN, "planted", name + ".dll") for name in PLANTED_NAMES]
FILE_PROBE = os.path.join(BIN, "net_file_probe.exe")
# Bits of the probe's exit code: writing, renaming and deleting refused by sharing; reading,
# too, while the partly written file is marked for deletion.
WRITE_RENAME_DELETE_REFUSED = 1 | 2 | 4


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
                                environment={"HALVEX_STANDIN_LOAD": "setup_helper.dll"}) as run:
                self.assertEqual(run.wait_exit(120), 0)
        self.assertEqual(len(run.standin_runs()), 1, "the setup program did not run")
        self.assertFalse(os.path.exists(os.path.join(run.cwd, "setup_helper.dll.loaded")),
                         "the planted library ran in the elevated setup program")


class SwappedSetupTest(EndToEndTest):
    def test_downloaded_setup_cannot_be_changed_by_another_process_before_it_runs(self):
        with self.vendor_server() as server:
            server.route(EBWEBVIEW, body=standin_bytes(), pause_at=0.5)
            server.route(RELEASE, body=standin_bytes(), pause_at=0.5)
            with self.installer("swapped-setup") as run:
                self.assertIsNotNone(run.window("visible"))
                self.assertTrue(wait_for(lambda: os.path.exists(run.setup_path), 60))
                probe = wine([FILE_PROBE, "probe", windows_path(run.setup_path)])
                self.assertEqual(probe.returncode, WRITE_RENAME_DELETE_REFUSED)
                server.resume()
                self.assertEqual(run.wait_exit(120), 0)

        runs = run.standin_runs()
        self.assertEqual(len(runs), 1, "the downloaded program did not run")
        self.assertFalse(os.path.exists(run.setup_path))


if __name__ == "__main__":
    unittest.main()
