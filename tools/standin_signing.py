"""Signs copies of a program with the test code-signing certificates, for the stand-in setup
programs that tests and the demonstration serve.

test_certs.py makes the certificates in BUILD/certs/signing and says how each differs from
"publisher", the name and key the test installer pins.
"""

import os
import subprocess
import tempfile

from test_certs import PUBLISHER, revocable_signer  # noqa: F401 - the tests take both here
# A fixed signing time, so the same program signed twice gives the same bytes.
SIGNING_TIME = 1700000000
# Signer: (the certificates the signature carries, the key). Most share the publisher's key.
_SIGNERS = {
    "publisher": ("publisher.crt", "publisher"),
    "second": ("second.crt", "second"),
    "impostor": ("impostor.crt", "impostor"),
    "other": ("other.crt", "publisher"),
    "no-usage": ("no-usage.crt", "publisher"),
    "no-eku": ("no-eku.crt", "publisher"),
    "no-cn": ("no-cn.crt", "publisher"),
    "untrusted": ("untrusted-chain.pem", "publisher"),
    # The signer's certificate alone: its CA is known to no store, or only the user's.
    "unknown-ca": ("untrusted.crt", "publisher"),
    "user-root": ("user-root.crt", "publisher"),
    "intermediate": ("intermediate-chain.pem", "publisher"),
}


def _sign(program, signer, signing_dir):
    """signer: a name of _SIGNERS, or (certificates file, key file)."""
    if isinstance(signer, str):
        certs, key = _SIGNERS[signer]
        signer = (os.path.join(signing_dir, certs), os.path.join(signing_dir, key + ".key"))
    certs, key = signer
    with tempfile.TemporaryDirectory() as scratch:
        unsigned, signed = os.path.join(scratch, "in.exe"), os.path.join(scratch, "out.exe")
        with open(unsigned, "wb") as f:
            f.write(program)
        subprocess.run(["osslsigncode", "sign", "-certs", certs, "-key", key, "-h", "sha256",
                        "-time", str(SIGNING_TIME), "-in", unsigned, "-out", signed],
                       check=True, stdout=subprocess.DEVNULL, timeout=60)
        with open(signed, "rb") as f:
            return f.read()


def signed_program(program, signer, signing_dir, size=None):
    """The program signed by the given signer; with size, first padded with zeros after its
    image so the signed file has exactly that many bytes. Data appended after a signature
    breaks it, so the padding goes before the signature and is covered by it."""
    if size is None:
        return _sign(program, signer, signing_dir)
    aligned = program + b"\0" * (-len(program) % 8)
    overhead = len(_sign(aligned, signer, signing_dir)) - len(aligned)
    if size - overhead < len(aligned):
        raise ValueError("%d bytes cannot hold the signed program" % size)
    padded = _sign(program + b"\0" * (size - overhead - len(program)), signer, signing_dir)
    if len(padded) != size:
        raise RuntimeError("the signed program has %d bytes, not %d" % (len(padded), size))
    return padded
