"""The installer, built with a publisher pin (its name and two keys), runs only a setup program
signed with one of those keys by a certificate of that common name with the code-signing usage,
under a trusted root; without the pin it runs what it downloaded, as before."""

import os
import unittest

from harness import UNPINNED_INSTALLER, EndToEndTest, standin_bytes

RELEASE = "/halvex-nefo/release"
EBWEBVIEW = "/halvex-nefo/ebwebview"
DOWNLOAD_FAILED = "下载失败，请检查网络连接或联系客服。"


def one_byte_changed(program):
    changed = bytearray(program)
    changed[len(changed) // 2] ^= 0x01
    return bytes(changed)


class SetupSignatureTest(EndToEndTest):
    def serve(self, server, body):
        server.route(RELEASE, body=body)
        server.route(EBWEBVIEW, body=body)

    def test_a_setup_program_not_signed_by_the_pinned_publisher_is_refused(self):
        cases = (
            ("unsigned", standin_bytes(signer=None)),
            ("one-byte-changed", one_byte_changed(standin_bytes())),
            ("other-publisher", standin_bytes("other")),
            ("untrusted-root", standin_bytes("untrusted")),
            ("no-code-signing-usage", standin_bytes("no-usage")),
            ("no-usage-extension", standin_bytes("no-eku")),
            ("right-name-wrong-key", standin_bytes("impostor")),
            ("pin-as-unit-no-common-name", standin_bytes("no-cn")),
        )
        for case, body in cases:
            with self.subTest(case=case):
                with self.vendor_server() as server:
                    self.serve(server, body)
                    with self.installer("signature-" + case) as run:
                        box = run.message_box()
                        self.assertIsNotNone(box, "no failure box")
                        self.assertEqual(box["text"], DOWNLOAD_FAILED)
                        self.assertTrue(box["owner"]["visible"], "the window did not stay")
                        self.assert_nothing_left(run)
                        self.assertTrue(run.press("cancel"))
                        run.settle()
                        self.assertIsNotNone(run.window("visible", timeout=0))
                    self.assertEqual(len(server.requests), 1, "the download was retried")
                self.assertEqual(run.standin_runs(), [], "the refused program ran")

    def test_the_pinned_publishers_setup_program_and_any_without_the_pin_run(self):
        cases = (
            ("pinned-publisher", {}, standin_bytes()),
            ("second-pinned-key", {}, standin_bytes("second")),
            ("through-carried-intermediate", {}, standin_bytes("intermediate")),
            ("no-pin-unsigned", {"installer": UNPINNED_INSTALLER}, standin_bytes(signer=None)),
        )
        for case, options, body in cases:
            with self.subTest(case=case):
                with self.vendor_server() as server:
                    self.serve(server, body)
                    with self.installer("signature-" + case, **options) as run:
                        self.assertEqual(run.wait_exit(120), 0)
                self.assertEqual(len(run.standin_runs()), 1, "the setup program did not run")
                self.assertFalse(os.path.exists(run.setup_path))


if __name__ == "__main__":
    unittest.main()
