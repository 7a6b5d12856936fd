"""Signs copies of a program with the test code-signing certificates, for the stand-in setup
programs that tests and the demonstration serve.

scripts/common.sh (halvex_make_signing_certs) makes the certificates in BUILD/certs/signing
and says how each differs from "publisher", the name and key the test installer pins.
"""

import os
import subprocess
import tempfile

PUBLISHER = "Halvex Test Publisher"
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


def revocable_signer(signing_dir, folder, crl_url, revoked):
    """The pinned publisher's name and key in a certificate of the trusted CA that names
    crl_url as its CRL distribution point, written to folder, and that CA's CRL (DER),
    listing the certificate as revoked or not. Returns (signer, crl)."""
    ca, ca_key = os.path.join(signing_dir, "ca.pem"), os.path.join(signing_dir, "ca.key")
    key = os.path.join(signing_dir, "publisher.key")
    names = {name: os.path.join(folder, name) for name in
             ("leaf.csr", "leaf.cnf", "leaf.crt", "ca.cnf", "index.txt", "crlnumber", "crl.pem",
              "crl.der")}
    with open(names["leaf.cnf"], "w") as f:
        f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                "extendedKeyUsage=codeSigning\ncrlDistributionPoints=URI:%s\n" % crl_url)
    with open(names["ca.cnf"], "w") as f:
        f.write("[ca]\ndefault_ca=test\n[test]\ndatabase=%s\ncrlnumber=%s\n"
                "default_md=sha256\ndefault_crl_days=30\n"
                % (names["index.txt"], names["crlnumber"]))
    open(names["index.txt"], "w").close()
    with open(names["crlnumber"], "w") as f:
        f.write("01\n")
    quiet = {"check": True, "stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL,
             "timeout": 60}
    subprocess.run(["openssl", "req", "-new", "-key", key, "-subj", "/CN=" + PUBLISHER,
                    "-out", names["leaf.csr"]], **quiet)
    subprocess.run(["openssl", "x509", "-req", "-in", names["leaf.csr"], "-CA", ca, "-CAkey",
                    ca_key, "-set_serial", "0x" + os.urandom(8).hex(), "-days", "3650",
                    "-extfile", names["leaf.cnf"], "-out", names["leaf.crt"]], **quiet)
    ca_args = ["-config", names["ca.cnf"], "-keyfile", ca_key, "-cert", ca]
    if revoked:
        subprocess.run(["openssl", "ca", *ca_args, "-revoke", names["leaf.crt"]], **quiet)
    subprocess.run(["openssl", "ca", *ca_args, "-gencrl", "-out", names["crl.pem"]], **quiet)
    subprocess.run(["openssl", "crl", "-in", names["crl.pem"], "-outform", "DER", "-out",
                    names["crl.der"]], **quiet)
    with open(names["crl.der"], "rb") as f:
        return (names["leaf.crt"], key), f.read()
