"""The installer's whole road, started as a person starts it and watched from outside."""

import contextlib
import ntpath
import os
import time
import unittest

from harness import (DOWNLOAD_FAILED, EBWEBVIEW, NOT_A_PROGRAM, RELEASE, SAVE_NAME,
                     STANDIN_TITLE, SUPPORT_CAPTION, SUPPORT_URL, UNPINNED_INSTALLER, USER_AGENT, EndToEndTest,
                     desktop_shell_stopped, standin_bytes, ui, wait_for, xdotool)

LAUNCH_FAILED = "安装程序启动失败，请检查安装包或联系客服。"
OK, CANCEL = 1, 2
# Time given to a wrongly opened support page to show up before its absence counts.
BROWSER_GRACE_SECONDS = 3
STOPPED_SHELL_SECONDS = 10
# The support page is opened by the desktop shell, as the signed-in user.
DESKTOP_SHELL = "explorer.exe"
CHILD_SECONDS = 3
UNPACKED = "unpacked by the setup program"


class SuccessfulInstallTest(EndToEndTest):
    def test_setup_is_downloaded_run_without_arguments_and_deleted(self):
        for runtime_present, path in ((True, RELEASE), (False, EBWEBVIEW)):
            with self.subTest(runtime_present=runtime_present):
                self.check_successful_road(runtime_present, path)

    def check_successful_road(self, runtime_present, path):
        name = "success-runtime-present" if runtime_present else "success-runtime-missing"
        with contextlib.ExitStack() as stack:
            server = stack.enter_context(self.vendor_server())
            # Held half way, so the window can be looked at while the download runs.
            server.route(path, body=standin_bytes(), pause_at=0.5)
            server.route(EBWEBVIEW if path == RELEASE else RELEASE, body=standin_bytes())
            if runtime_present:
                stack.enter_context(self.webview2_runtime())
            run = stack.enter_context(self.installer(name, standin_seconds=3))

            window = run.window("visible")
            self.assertIsNotNone(window, "the installer's window never showed")
            self.assert_main_window_centred(window)
            self.assertTrue(server.wait_for_requests(path, 1, 60),
                            "requests seen: %r" % server.requests)
            server.resume()

            standin = ui("window", "--title", STANDIN_TITLE, "--state", "visible", timeout=60)
            self.assertTrue(standin["ok"], "the setup program's window never showed")
            self.assertIsNotNone(run.window("hidden", timeout=0),
                                 "the installer's window is shown beside the setup program")
            self.assertEqual(run.wait_exit(60), 0)
            self.assertEqual([(r["path"], r["user_agent"]) for r in server.requests],
                             [(path, USER_AGENT)])

        runs = run.standin_runs()
        self.assertEqual(len(runs), 1, "the setup program should run exactly once")
        command_line, directory, temp, tmp = runs[0]
        program = command_line.strip().strip('"')
        self.assertNotIn(" ", program, "the setup program got arguments: " + command_line)
        self.assertEqual(ntpath.basename(program).lower(), SAVE_NAME)
        # By its full path, from its clean room, which was that run's own and is gone.
        room = ntpath.dirname(program)
        self.assertEqual(directory.rstrip("\\").lower(), room.lower())
        self.assertRegex(room.lower(), r"^c:\\windows\\temp\\halvex-[0-9a-f]{32}$")
        # Its temporary folder too, not the user's %TEMP%, which unelevated processes write.
        for variable in (temp, tmp):
            self.assertTrue(variable.lower().startswith(room.lower() + "\\"), variable)
        self.assert_nothing_left(run)


class RefusedWindowsTest(EndToEndTest):
    def test_windows_7_is_refused_before_anything_is_downloaded(self):
        with self.vendor_server() as server, self.windows_version("win7"):
            server.route(RELEASE, body=standin_bytes())
            server.route(EBWEBVIEW, body=standin_bytes())
            with self.installer("windows-7") as run:
                box = run.message_box()
                self.assertIsNotNone(box, "no message box on Windows 7")
                self.assertEqual((box["caption"], box["text"]), ("错误", "不支持win7系统!"))
                self.assertEqual([b["id"] for b in box["buttons"]], [OK])
                self.assertTrue(box["icon"])
                self.assertTrue(box["owner"]["visible"])
                self.assertTrue(run.press("ok"))

                self.assert_stays_then_closes(run,
                                              "the window must stay until the user closes it")
            self.assertEqual(server.requests, [])
            self.assertEqual(os.listdir(run.cwd), [])


class FailureBoxTest(EndToEndTest):
    """The two failures that offer the support page: OK opens it, Cancel does not."""

    def test_failed_download_keeps_the_window(self):
        for button, opened in (("ok", [SUPPORT_URL]), ("cancel", [])):
            with self.subTest(button=button):
                with self.vendor_server() as server:
                    server.route(EBWEBVIEW, status=404, body=b"gone")
                    with self.installer("download-failure-" + button) as run, \
                            self.browser_recorder(run.browser_record):
                        box = run.message_box()
                        self.assertIsNotNone(box, "no message box after a 404")
                        self.assertEqual((box["caption"], box["text"]),
                                         (SUPPORT_CAPTION, DOWNLOAD_FAILED))
                        self.assertEqual([b["id"] for b in box["buttons"]], [OK, CANCEL])
                        self.assertTrue(box["icon"])
                        self.assertTrue(box["owner"]["visible"])
                        self.assertTrue(run.press(button))
                        self.assert_browser_opened(run, opened)

                        self.assert_stays_then_closes(
                            run, "the window must stay after a failed download")
                    self.assertEqual([r["path"] for r in server.requests], [EBWEBVIEW])
                self.assertEqual(run.standin_runs(), [])

    def test_setup_that_cannot_start_is_reported_and_removed(self):
        for button, opened in (("ok", [SUPPORT_URL]), ("cancel", [])):
            with self.subTest(button=button):
                with self.vendor_server() as server:
                    server.route(EBWEBVIEW, body=NOT_A_PROGRAM)
                    # A file that is no program carries no signature: only a build without
                    # the publisher pin gets as far as starting it.
                    with self.installer("launch-failure-" + button,
                                        installer=UNPINNED_INSTALLER) as run, \
                            self.browser_recorder(run.browser_record):
                        box = run.message_box()
                        self.assertIsNotNone(box, "no message box after a failed launch")
                        self.assertEqual((box["caption"], box["text"]),
                                         (SUPPORT_CAPTION, LAUNCH_FAILED))
                        self.assertEqual([b["id"] for b in box["buttons"]], [OK, CANCEL])
                        self.assertFalse(box["owner"]["visible"],
                                         "the window must be hidden before the launch")
                        self.assertTrue(run.press(button))
                        self.assertEqual(run.wait_exit(30), 0, "the installer must close after the box")
                        self.assert_browser_opened(run, opened)
                self.assert_nothing_left(run)

    def test_desktop_shell_that_does_not_answer_opens_nothing_and_the_installer_ends(self):
        with self.vendor_server() as server:
            server.route(EBWEBVIEW, body=NOT_A_PROGRAM)
            with self.installer("shell-not-answering", installer=UNPINNED_INSTALLER) as run, \
                    self.browser_recorder(run.browser_record):
                box = run.message_box()
                self.assertTrue(box and box["foreground"], "no box in front after a failed launch")
                # No Wine program starts while the shell is stopped: the key goes through X.
                with desktop_shell_stopped():
                    xdotool("key", "Return")
                    pressed = time.monotonic()
                    code = run.wait_exit(30)
                    time.sleep(max(0, pressed + STOPPED_SHELL_SECONDS - time.monotonic()))
                    opened = run.browser_opened()
                # The shell, once resumed, may still carry the call it took, as the user; waited
                # for while the recorder is the handler.
                wait_for(run.browser_opened, BROWSER_GRACE_SECONDS)
                self.assertEqual(code, 0, "the installer must close after the box")
                self.assertEqual(opened, [], "something was started without the desktop shell")

    def assert_browser_opened(self, run, expected):
        if expected:
            wait_for(lambda: len(run.browser_opened()) >= len(expected), 30)
        else:
            time.sleep(BROWSER_GRACE_SECONDS)
        self.assertEqual([(url, parent.lower()) for url, parent in run.browser_opened()],
                         [(url, DESKTOP_SHELL) for url in expected])


class UnpackingSetupTest(EndToEndTest):
    def test_the_clean_room_outlives_what_the_setup_program_starts(self):
        # As many setup programs do: unpack into TEMP, start the real installer from there and
        # exit at once; what it starts reads the unpacked file a little later.
        with self.vendor_server() as server:
            server.route(RELEASE, body=standin_bytes())
            server.route(EBWEBVIEW, body=standin_bytes())
            with self.installer("unpacking-setup", standin={"child_seconds": CHILD_SECONDS}) as run:
                self.assertEqual(run.wait_exit(120), 0)
        runs = run.standin_runs()
        self.assertEqual([r[4:] for r in runs], [(), (UNPACKED,)],
                         "the started program did not find what its parent unpacked")
        self.assert_nothing_left(run)


if __name__ == "__main__":
    unittest.main()
