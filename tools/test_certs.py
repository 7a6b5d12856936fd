"""Every test certificate, made with python3-cryptography: the TLS CA and the stand-in
server's certificate, the code-signing CAs and the signers of SIGNERS, and revocable signers
with their CRL. Usage: test_certs.py FOLDER (makes FOLDER once; scripts/common.sh calls it).
"""

import datetime
import ipaddress
import os
import sys

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import rsa
from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID

PUBLISHER = "Halvex Test Publisher"
# CA file name: its common name.
CAS = {"ca": "Halvex Test Code Signing CA", "untrusted-ca": "Halvex Untrusted Code Signing CA",
       "user-ca": "Halvex User-Trusted Code Signing CA"}
# Each signer differs from "publisher" (the pinned name and key) in one respect only, so that
# respect decides: name: (key, subject, issuer, extended key usage or None for no extension).
SIGNERS = {
    "publisher": ("publisher", PUBLISHER, "ca", "code"),
    "second": ("second", PUBLISHER, "ca", "code"),        # the second pinned key
    "impostor": ("impostor", PUBLISHER, "ca", "code"),    # the name, another key
    "other": ("publisher", "Halvex Other Publisher", "ca", "code"),
    "no-usage": ("publisher", PUBLISHER, "ca", "server"),
    "no-eku": ("publisher", PUBLISHER, "ca", None),
    "no-cn": ("publisher", ("Halvex", PUBLISHER), "ca", "code"),  # the name as the unit
    "untrusted": ("publisher", PUBLISHER, "untrusted-ca", "code"),
    "user-root": ("publisher", PUBLISHER, "user-ca", "code"),
    "intermediate": ("publisher", PUBLISHER, "intermediate-ca", "code"),
}
_USAGES = {"code": ExtendedKeyUsageOID.CODE_SIGNING, "server": ExtendedKeyUsageOID.SERVER_AUTH,
           "tls": ExtendedKeyUsageOID.SERVER_AUTH}
_PEM = serialization.Encoding.PEM


def _name(subject):
    """A common name, or (organisation, unit) for a name without one."""
    if isinstance(subject, str):
        return x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, subject)])
    return x509.Name([x509.NameAttribute(NameOID.ORGANIZATION_NAME, subject[0]),
                      x509.NameAttribute(NameOID.ORGANIZATIONAL_UNIT_NAME, subject[1])])


def _usage(ca):
    return x509.KeyUsage(digital_signature=not ca, key_cert_sign=ca, crl_sign=ca,
                         content_commitment=False, key_encipherment=False, data_encipherment=False,
                         key_agreement=False, encipher_only=False, decipher_only=False)


def issue(subject, key, issuer=None, ca=False, usage="code", extensions=()):
    """A certificate of subject for key, issued by issuer ((certificate, key); None: itself),
    valid for ten years. usage: "code" or "server" (key usage digital signature and that
    extended usage), None (no extended usage), or "tls" (server use, no key usage)."""
    now = datetime.datetime.utcnow()
    issuer_cert, issuer_key = issuer or (None, key)
    builder = (x509.CertificateBuilder().subject_name(_name(subject))
               .issuer_name(issuer_cert.subject if issuer_cert else _name(subject))
               .public_key(key.public_key()).serial_number(x509.random_serial_number())
               .not_valid_before(now - datetime.timedelta(days=1))
               .not_valid_after(now + datetime.timedelta(days=3650))
               .add_extension(x509.BasicConstraints(ca=ca, path_length=None), critical=ca)
               .add_extension(x509.SubjectKeyIdentifier.from_public_key(key.public_key()), False))
    if issuer_cert is not None:
        builder = builder.add_extension(
            x509.AuthorityKeyIdentifier.from_issuer_public_key(issuer_key.public_key()), False)
    if ca or usage != "tls":
        builder = builder.add_extension(_usage(ca), critical=True)
    if not ca and usage in _USAGES:
        builder = builder.add_extension(x509.ExtendedKeyUsage([_USAGES[usage]]), False)
    for extension in extensions:
        builder = builder.add_extension(extension, False)
    return builder.sign(issuer_key, hashes.SHA256())


def _write(path, *parts):
    with open(path, "wb") as f:
        for part in parts:
            if isinstance(part, x509.Certificate):
                f.write(part.public_bytes(_PEM))
            else:
                f.write(part.private_bytes(_PEM, serialization.PrivateFormat.TraditionalOpenSSL,
                                           serialization.NoEncryption()))


def _key(path):
    with open(path, "rb") as f:
        return serialization.load_pem_private_key(f.read(), None)


def _ca(folder, name, common_name, issuer=None):
    key = rsa.generate_private_key(65537, 2048)
    cert = issue(common_name, key, issuer, ca=True)
    _write(os.path.join(folder, name + ".pem"), cert)
    _write(os.path.join(folder, name + ".key"), key)
    with open(os.path.join(folder, name + ".der"), "wb") as f:
        f.write(cert.public_bytes(serialization.Encoding.DER))
    return cert, key


def make(folder):
    """The TLS CA and server certificate in folder, the code-signing ones in folder/signing.
    Made once: the build's Wine prefixes trust these CAs."""
    signing = os.path.join(folder, "signing")
    if os.path.exists(os.path.join(signing, ".keys-v3")):
        return
    os.makedirs(signing, exist_ok=True)
    tls_ca = _ca(folder, "ca", "Halvex Test CA")
    key = rsa.generate_private_key(65537, 2048)
    names = x509.SubjectAlternativeName([x509.DNSName("localhost"),
                                         x509.IPAddress(ipaddress.ip_address("127.0.0.1"))])
    server = issue("localhost", key, tls_ca, usage="tls", extensions=(names,))
    _write(os.path.join(folder, "server.crt"), server)
    _write(os.path.join(folder, "server.key"), key)
    _write(os.path.join(folder, "server.pem"), server, key)

    issuers = {name: _ca(signing, name, cn) for name, cn in CAS.items()}
    issuers["intermediate-ca"] = _ca(signing, "intermediate-ca", "Halvex Test Intermediate CA",
                                     issuers["ca"])
    keys = {}
    for name in ("publisher", "second", "impostor"):
        keys[name] = rsa.generate_private_key(65537, 2048)
        _write(os.path.join(signing, name + ".key"), keys[name])
    for name, (key_name, subject, issuer, usage) in SIGNERS.items():
        cert = issue(subject, keys[key_name], issuers[issuer], usage=usage)
        _write(os.path.join(signing, name + ".crt"), cert)
        # A signer sends its whole chain: one leads to a root the prefix does not trust, one
        # through an intermediate to the trusted root.
        if issuer in ("untrusted-ca", "intermediate-ca"):
            _write(os.path.join(signing, name + "-chain.pem"), cert, issuers[issuer][0])
    open(os.path.join(signing, ".keys-v3"), "w").close()


def revocable_signer(signing_dir, folder, crl_url, revoked):
    """The pinned publisher's name and key in a certificate of the trusted CA that names
    crl_url as its CRL distribution point, written to folder, and that CA's CRL (DER),
    listing the certificate as revoked or not. Returns ((certificate, key) paths, CRL)."""
    with open(os.path.join(signing_dir, "ca.pem"), "rb") as f:
        ca = x509.load_pem_x509_certificate(f.read()), _key(os.path.join(signing_dir, "ca.key"))
    key_path = os.path.join(signing_dir, "publisher.key")
    key = _key(key_path)
    point = x509.DistributionPoint([x509.UniformResourceIdentifier(crl_url)], None, None, None)
    cert = issue(PUBLISHER, key, ca, extensions=(x509.CRLDistributionPoints([point]),))
    cert_path = os.path.join(folder, "leaf.crt")
    _write(cert_path, cert)
    now = datetime.datetime.utcnow()
    crl = (x509.CertificateRevocationListBuilder().issuer_name(ca[0].subject)
           .last_update(now - datetime.timedelta(minutes=5))
           .next_update(now + datetime.timedelta(days=30))
           .add_extension(x509.CRLNumber(1), False))
    if revoked:
        crl = crl.add_revoked_certificate(
            x509.RevokedCertificateBuilder().serial_number(cert.serial_number)
            .revocation_date(now - datetime.timedelta(minutes=5)).build())
    return (cert_path, key_path), crl.sign(ca[1], hashes.SHA256()).public_bytes(
        serialization.Encoding.DER)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    make(sys.argv[1])
