"""Certificates made for a test run, with fresh keys that never leave its temporary folder, and Authenticode signing
with them."""

import subprocess

QUIET = {"check": True, "stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}


def make_certificate(directory, name, usage="codeSigning", subject=None):
    """A self-signed certificate for `usage` and its key, as (key, certificate) paths; `subject` names whom it
    claims to be (by default `name`)."""
    key, certificate = directory / f"{name}.key", directory / f"{name}.crt"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", f"/CN=Tempvaro Test {subject or name}/O=Tempvaro Tests",
                    "-addext", f"extendedKeyUsage={usage}", "-keyout", str(key), "-out", str(certificate)], **QUIET)
    return key, certificate


def make_pkcs12(publisher):
    """The key and certificate in a PKCS#12 file with an empty password, as a vendor keeps them."""
    key, certificate = publisher
    bundle = certificate.with_suffix(".p12")
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", str(key), "-in", str(certificate), "-passout", "pass:",
                    "-out", str(bundle)], **QUIET)
    return bundle


def sign(source, target, publisher):
    key, certificate = publisher
    subprocess.run(["osslsigncode", "sign", "-certs", str(certificate), "-key", str(key), "-n", "Tempvaro",
                    "-in", str(source), "-out", str(target)], **QUIET)
    return target
