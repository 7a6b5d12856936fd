"""The installer, built with a publisher pin (its name and two keys), runs only a setup program
signed with one of those keys by a certificate of that common name with the code-signing usage,
under a root the machine trusts, whose version resources carry at least the pinned version floor
and the pinned product name; without the pin it runs what it downloaded, as before."""

import contextlib
import hashlib
import os
import unittest

from harness import (BIN, DOWNLOAD_FAILED, EBWEBVIEW, RELEASE, SIGNING, UNPINNED_INSTALLER,
                     EndToEndTest, crl_server, free_port, reg, revocable_standin, signed_program,
                     standin_bytes, windows_path, wine)


def crl_case(revoked, served=True):
    """A stand-in whose certificate's CRL lives on a port of its own, and the server for it:
    serving the CRL (Wine's crypt32 fetches it over http from 127.0.0.1), or none at all."""
    port = free_port()
    body, crl = revocable_standin("http://127.0.0.1:%d/%s.crl" % (port, os.urandom(4).hex()),
                                  revoked)
    return body, (lambda: crl_server(port, crl)) if served else contextlib.nullcontext


def standin_variant(name):
    """A stand-in of bin/standins (tools/CMakeLists.txt) signed by the pinned publisher."""
    with open(os.path.join(BIN, "standins", name + ".exe"), "rb") as f:
        return signed_program(f.read(), "publisher", SIGNING)


@contextlib.contextmanager
def trusted_by_machine(der_path):
    """The CA in the machine's root store for the block; Wine keeps that store's certificates
    in the registry under their SHA-1 digests."""
    with open(der_path, "rb") as f:
        digest = hashlib.sha1(f.read()).hexdigest().upper()
    trusted = wine([os.path.join(BIN, "trust_ca.exe"), windows_path(der_path)])
    if trusted.returncode != 0:
        raise RuntimeError("trust_ca failed: %r" % trusted.stderr)
    try:
        yield
    finally:
        reg("delete", "HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\"
            + digest, "/f")


def one_byte_changed(program):
    changed = bytearray(program)
    changed[len(changed) // 2] ^= 0x01
    return bytes(changed)


class SetupSignatureTest(EndToEndTest):
    def serve(self, server, body):
        server.route(RELEASE, body=body)
        server.route(EBWEBVIEW, body=body)

    def test_a_setup_program_not_signed_by_the_pinned_publisher_is_refused(self):
        # Trusted by the user's root store alone, which any unelevated process can add to.
        trusted = wine([os.path.join(BIN, "trust_ca.exe"), "--user",
                        windows_path(os.path.join(SIGNING, "user-ca.der"))])
        self.assertEqual(trusted.returncode, 0, trusted.stderr)
        revoked, revoked_crl = crl_case(revoked=True)
        cases = (
            ("unsigned", standin_bytes(signer=None)),
            ("one-byte-changed", one_byte_changed(standin_bytes())),
            ("other-publisher", standin_bytes("other")),
            ("untrusted-root", standin_bytes("untrusted")),
            # The chain stops short of any root; Wine's Authenticode policy passes that.
            ("unknown-ca", standin_bytes("unknown-ca")),
            ("ca-in-the-users-root-store-only", standin_bytes("user-root")),
            ("no-code-signing-usage", standin_bytes("no-usage")),
            ("no-usage-extension", standin_bytes("no-eku")),
            ("right-name-wrong-key", standin_bytes("impostor")),
            ("pin-as-unit-no-common-name", standin_bytes("no-cn")),
            ("revoked", revoked),
            # The pinned publisher's own programs that are not the one the build asks for.
            ("older-than-the-floor", standin_variant("older")),
            ("second-table-names-another-product", standin_variant("other-product")),
            ("no-version-resource", standin_variant("unversioned")),
        )
        crl_servers = {"revoked": revoked_crl}
        for case, body in cases:
            with self.subTest(case=case):
                with self.vendor_server() as server, \
                        crl_servers.get(case, contextlib.nullcontext)() as asked:
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
                    if asked is not None:
                        self.assertNotEqual(asked, [], "the CRL was never asked for")
                self.assertEqual(run.standin_runs(), [], "the refused program ran")

    def test_the_pinned_publishers_setup_program_and_any_without_the_pin_run(self):
        unrevoked, unrevoked_crl = crl_case(revoked=False)
        offline, no_crl = crl_case(revoked=True, served=False)
        cases = (
            # At the floor, the pinned name in its one (Chinese, 080404b0) string table.
            ("pinned-publisher", {}, standin_bytes()),
            ("crl-served-not-revoked", {}, unrevoked),
            ("revocation-unknown-offline", {}, offline),
            ("second-pinned-key", {}, standin_bytes("second")),
            ("through-carried-intermediate", {}, standin_bytes("intermediate")),
            # The control of the refused row whose CA only the user's root store holds.
            ("ca-in-the-machines-root-store", {}, standin_bytes("user-root")),
            ("no-pin-unsigned", {"installer": UNPINNED_INSTALLER}, standin_bytes(signer=None)),
        )
        crl_servers = {"crl-served-not-revoked": unrevoked_crl, "revocation-unknown-offline": no_crl}
        machine_roots = {"ca-in-the-machines-root-store": os.path.join(SIGNING, "user-ca.der")}
        for case, options, body in cases:
            with self.subTest(case=case):
                root = machine_roots.get(case)
                with self.vendor_server() as server, \
                        crl_servers.get(case, contextlib.nullcontext)() as asked, \
                        trusted_by_machine(root) if root else contextlib.nullcontext():
                    self.serve(server, body)
                    with self.installer("signature-" + case, **options) as run:
                        self.assertEqual(run.wait_exit(120), 0)
                    if asked is not None:
                        self.assertNotEqual(asked, [], "the CRL was never asked for")
                self.assertEqual(len(run.standin_runs()), 1, "the setup program did not run")
                self.assert_nothing_left(run)


if __name__ == "__main__":
    unittest.main()
