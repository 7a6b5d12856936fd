"""Signs copies of a program with the test code-signing certificates (test_certs.py), for the
stand-in setup programs that tests and the demonstration serve."""

import os
import subprocess
import tempfile

from test_certs import PUBLISHER, SIGNERS, revocable_signer  # noqa: F401 - the tests take these here

# A fixed signing time, so the same program signed twice gives the same bytes.
SIGNING_TIME = 1700000000


def _signer_files(signer, signing_dir):
    """(the certificates the signature carries, the key) of a signer of SIGNERS: those whose CA
    no store trusts or that come through an intermediate send their chain. "unknown-ca" is
    "untrusted" without its chain: its CA is known to no store."""
    name = "untrusted" if signer == "unknown-ca" else signer
    key, _, issuer, _ = SIGNERS[name]
    chained = signer != "unknown-ca" and issuer in ("untrusted-ca", "intermediate-ca")
    return (os.path.join(signing_dir, name + ("-chain.pem" if chained else ".crt")),
            os.path.join(signing_dir, key + ".key"))


def _sign(program, signer, signing_dir):
    """signer: a name of SIGNERS, "unknown-ca", or (certificates file, key file)."""
    certs, key = _signer_files(signer, signing_dir) if isinstance(signer, str) else signer
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
