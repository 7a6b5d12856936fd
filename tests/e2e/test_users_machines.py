"""What real users' machines bring: a second start, the user's proxy settings, a full disk."""

import contextlib
import errno
import os
import subprocess
import time
import unittest

from harness import (CERT, DOWNLOAD_FAILED, EBWEBVIEW, GLYPH_CENTRE, INSTALLER, MAIN_CLASS,
                     NOT_A_PROGRAM, RUNS, STANDIN_TITLE, UNPINNED_INSTALLER, USER_PROFILE,
                     WINDOWS_TEMP, WINE_ENV, EndToEndTest, free_port, machine_proxy, prefix_pids,
                     small_disk, standin_bytes, tinyproxy, ui, user_proxy_settings)
from vendor_server import VendorServer

PROXY_SCRIPT = "/proxy.pac"
RULE_SCRIPT = "/rule.pac"
# A second start must be over well within this, Wine's own start-up included.
SECOND_START_SECONDS = 20


def start_again(run):
    """Starts the installer once more from the first run's folder; its exit code, or None."""
    second = subprocess.Popen(["wine", INSTALLER], cwd=run.cwd, env=WINE_ENV,
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    try:
        return second.wait(SECOND_START_SECONDS)
    except subprocess.TimeoutExpired:
        second.kill()
        second.wait(30)
        return None


def installer_processes():
    return prefix_pids(os.path.basename(INSTALLER))


class SecondStartTest(EndToEndTest):
    def test_second_start_leaves_the_running_installer_alone(self):
        with self.vendor_server() as server:
            server.route(EBWEBVIEW, body=standin_bytes(), pause_at=0.5)
            with self.installer("second-start", standin_seconds=5) as run:
                window = run.window("visible")
                self.assertIsNotNone(window, "the installer's window never showed")
                self.assertTrue(server.wait_for_requests(EBWEBVIEW, 1, 60))

                self.assertEqual(start_again(run), 0, "a start during the download")
                self.assertEqual(len(installer_processes()), 1)
                still = run.window("visible", timeout=0)
                self.assertEqual(still and still["hwnd"], window["hwnd"])
                self.assertFalse(ui("box", timeout=0)["ok"], "a second start showed a box")

                server.resume()
                standin = ui("window", "--title", STANDIN_TITLE, "--state", "visible",
                             timeout=60)
                self.assertTrue(standin["ok"], "the setup program's window never showed")
                self.assertEqual(start_again(run), 0, "a start while the setup program runs")
                self.assertIsNotNone(run.window("hidden", timeout=0))
                self.assertEqual(run.wait_exit(60), 0)
            self.assertEqual(len(server.requests), 1, "requests seen: %r" % server.requests)
        self.assertEqual(len(run.standin_runs()), 1, "the setup program should run once")
        self.assertEqual(os.listdir(run.cwd), [])

    def test_second_start_brings_the_box_forward(self):
        # The download-failure box over the shown window; the launch-failure box after the
        # window made way for the setup program. Before the second start the user has gone to
        # the window behind the box, where the keyboard goes nowhere.
        cases = (("download-failure", {"status": 404}, INSTALLER),
                 ("launch-failure", {"body": NOT_A_PROGRAM}, UNPINNED_INSTALLER))
        for name, answer, installer in cases:
            with self.subTest(name), self.vendor_server() as server:
                server.route(EBWEBVIEW, **answer)
                with self.installer("box-" + name, installer=installer) as run:
                    self.assertIsNotNone(run.message_box(), "no box")
                    ui("activate", "--class", MAIN_CLASS)
                    self.assertFalse(run.message_box(timeout=0)["foreground"])
                    self.assertEqual(start_again(run), 0)
                    box = run.message_box(timeout=0)
                    self.assertTrue(box["foreground"] and box["keyboard"], box)
                    self.assertTrue(run.press("cancel"))

    def test_killed_installer_does_not_block_the_next_start(self):
        with self.vendor_server() as server:
            server.route(EBWEBVIEW, body=standin_bytes(), pause_at=0.5)
            with self.installer("killed-first") as killed:
                self.assertIsNotNone(killed.window("visible"))
                self.assertTrue(server.wait_for_requests(EBWEBVIEW, 1, 60))
            self.assertEqual(installer_processes(), [])
            with self.installer("after-killed") as run:
                self.assertIsNotNone(run.window("visible"), "the start after a kill was blocked")
                self.assertTrue(server.wait_for_requests(EBWEBVIEW, 2, 60))


class DownloadFailureTest(EndToEndTest):
    def assert_download_failure_keeps_the_window(self, run):
        """The download-failure box, nothing left, and the window stays until closed."""
        box = run.message_box()
        self.assertIsNotNone(box, "no message box after the failed download")
        self.assertEqual(box["text"], DOWNLOAD_FAILED)
        self.assertTrue(run.press("cancel"))
        run.settle()
        self.assertIsNotNone(run.window("visible", timeout=0), "the window must stay")
        self.assertEqual(os.listdir(run.cwd), [])
        run.release_at(*GLYPH_CENTRE)
        self.assertEqual(run.wait_exit(30), 0)


class UserProxyTest(DownloadFailureTest):
    def test_download_follows_the_users_proxy_settings(self):
        folder = os.path.join(RUNS, "proxy")
        with self.vendor_server() as server, tinyproxy(folder, server.port) as (proxy, log):
            script_url = server.localhost_origin + PROXY_SCRIPT
            down = "127.0.0.1:%d" % free_port()
            server.route_proxy_script(PROXY_SCRIPT, proxy)
            # The script is asked about the origin alone ("https://localhost:PORT/"): that goes
            # direct, anything else to a proxy that is down.
            server.route_proxy_script(RULE_SCRIPT, down, rules='if (shExpMatch(url, "%s/")) '
                                      'return "DIRECT";' % server.localhost_origin)
            server.route(EBWEBVIEW, body=standin_bytes())
            origin = server.localhost_origin
            # (name, the user's settings, the machine's WinHTTP proxy, through the proxy)
            cases = (("direct", {}, None, False),
                     ("manual", {"proxy": proxy, "bypass": "*.halvex.test"}, None, True),
                     ("script", {"script_url": script_url}, None, True),
                     ("script-origin-direct", {"script_url": origin + RULE_SCRIPT}, None, False),
                     ("machine-first", {"proxy": down}, proxy, True))
            for name, settings, machine, through_proxy in cases:
                with self.subTest(name), contextlib.ExitStack() as stack:
                    stack.enter_context(user_proxy_settings(**settings))
                    if machine:
                        stack.enter_context(machine_proxy(machine))
                    run = stack.enter_context(self.installer("proxy-" + name))
                    tunnels_before = self.tunnels(log, server.port)
                    self.assertEqual(run.wait_exit(120), 0)
                    self.assertEqual(len(run.standin_runs()), 1, "the install did not complete")
                    self.assertEqual(self.tunnels(log, server.port) - tunnels_before,
                                     1 if through_proxy else 0)
            self.assertEqual(len(server.requests_for(EBWEBVIEW)), len(cases))

    def test_redirect_hop_goes_the_way_the_script_says(self):
        folder = os.path.join(RUNS, "proxy-hop-tinyproxy")
        with self.vendor_server() as server, VendorServer(certfile=CERT) as cdn, \
                tinyproxy(folder, server.port, cdn.port) as (proxy, log):
            cdn.route("/cdn/setup.exe", body=standin_bytes())
            server.route(EBWEBVIEW, status=302, location=cdn.localhost_origin + "/cdn/setup.exe")
            # Two origins of localhost: the test certificate names no other host.
            server.route_proxy_script(PROXY_SCRIPT, proxy, rules='if (!shExpMatch(url, "%s/*")) '
                                      'return "DIRECT";' % cdn.localhost_origin)
            with user_proxy_settings(script_url=server.localhost_origin + PROXY_SCRIPT), \
                    self.installer("proxy-hop") as run:
                self.assertEqual(run.wait_exit(120), 0)
            self.assertEqual(len(run.standin_runs()), 1, "the install did not complete")
            self.assertEqual((self.tunnels(log, server.port), self.tunnels(log, cdn.port)), (0, 1))

    def test_proxy_that_is_down_fails_the_download(self):
        with self.vendor_server() as server, \
                user_proxy_settings(proxy="127.0.0.1:%d" % free_port()), \
                self.installer("proxy-down") as run:
            server.route(EBWEBVIEW, body=standin_bytes())
            self.assert_download_failure_keeps_the_window(run)
            self.assertEqual(server.requests, [])

    @staticmethod
    def tunnels(log, port):
        if not os.path.exists(log):
            return 0
        with open(log, errors="replace") as f:
            return f.read().count("CONNECT localhost:%d " % port)


class CleanExitTest(EndToEndTest):
    def test_closing_during_a_download_ends_cleanly(self):
        # A script in use, a redirect, then a body that stalls: the worker is somewhere in the
        # downloader, the proxy choice included, whenever the window closes.
        stall = "/t/stall/4000000?seconds=30"
        with self.vendor_server() as server, \
                user_proxy_settings(script_url=server.localhost_origin + PROXY_SCRIPT):
            server.route_proxy_script(PROXY_SCRIPT, "-", rules='return "DIRECT";')
            server.route(EBWEBVIEW, status=302, location=server.localhost_origin + stall)
            for runs, delay in enumerate((0, 0.05, 0.2, 0.5, 1), 1):
                with self.subTest(delay=delay), self.installer("close-%s" % delay) as run:
                    self.assertIsNotNone(run.window("visible"))
                    self.assertTrue(server.wait_for_requests(EBWEBVIEW, runs, 60))
                    time.sleep(delay)
                    run.release_at(*GLYPH_CENTRE)
                    self.assertEqual(run.wait_exit(30), 0)


class FullDiskTest(DownloadFailureTest):
    def test_download_onto_a_full_disk_fails_and_leaves_nothing(self):
        # The clean rooms' folder is the small disk until the installer has ended, and the body
        # one the pinned installer would run: only the full disk can fail it.
        with self.vendor_server() as server, small_disk(WINDOWS_TEMP, 256 * 1024):
            server.route(EBWEBVIEW, body=standin_bytes(size=2 * 1024 * 1024))
            with self.installer("full-disk-download") as run:
                self.assert_download_failure_keeps_the_window(run)
                self.assertEqual(run.new_rooms(), [], "the clean room was left behind")
            self.assertEqual(run.standin_runs(), [])

    def test_record_file_on_a_full_disk_is_kept_and_the_install_goes_on(self):
        old_record = (b'[[software]]\r\nname = "halvex other"\r\nproduct_id = "7"\r\n'
                      b'distributor_id = "3"\r\n')
        folder = os.path.join(USER_PROFILE, ".halvex")
        with self.vendor_server() as server, small_disk(folder, 64 * 1024):
            server.route(EBWEBVIEW, body=standin_bytes())
            with open(os.path.join(folder, "config.toml"), "wb") as f:
                f.write(old_record)
            fill(os.path.join(folder, "filler"))
            with self.installer("full-disk-record") as run:
                self.assertEqual(run.wait_exit(120), 0)
            self.assertEqual(len(server.requests_for(EBWEBVIEW)), 1)
            self.assertEqual(len(run.standin_runs()), 1)
            with open(os.path.join(folder, "config.toml"), "rb") as f:
                self.assertEqual(f.read(), old_record)
            self.assertEqual(sorted(os.listdir(folder)), ["config.toml", "filler"])


def fill(path):
    """Writes path until the disk it is on is full."""
    descriptor = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC)
    try:
        while True:
            os.write(descriptor, b"\0" * 4096)
    except OSError as error:
        if error.errno != errno.ENOSPC:
            raise
    finally:
        os.close(descriptor)


if __name__ == "__main__":
    unittest.main()
