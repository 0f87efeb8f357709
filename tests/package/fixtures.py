"""What the package tests share: the Updater.exe of the windows build, and
a throwaway public key infrastructure made with openssl in a temporary
folder (nothing secret is kept anywhere else)."""
import subprocess
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
EXE = ROOT / "build" / "windows" / "Updater.exe"


def ensure_exe():
    """Builds EXE with the windows preset if it is missing."""
    if not EXE.exists():
        for cmd in (["cmake", "--preset", "windows"],
                    ["cmake", "--build", "--preset", "windows", "--target", "Updater"]):
            subprocess.run(cmd, cwd=ROOT, check=True, stdout=subprocess.DEVNULL)

OPENSSL_CNF = """\
[req]
distinguished_name = dn
[dn]
[ca]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[sign]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[tsa]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = critical,timeStamping
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
"""


def make_pki(d, password):
    """A CA, a code-signing certificate in a PKCS#12 file with password, and
    a timestamp authority, all made in the new folder d; their paths."""
    d.mkdir()
    (d / "openssl.cnf").write_text(OPENSSL_CNF)
    (d / "password").write_text(password + "\n")

    def openssl(*args):
        subprocess.run(["openssl", *args], cwd=d, check=True, capture_output=True)

    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem",
            "-subj", "/CN=Package Test CA", "-config", "openssl.cnf", "-extensions", "ca",
            "-days", "30")
    for name, subject, serial in (("sign", "/O=Package Test/CN=Package Test Publisher", "2"),
                                  ("tsa", "/CN=Package Test TSA", "3")):
        openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key",
                "-out", name + ".csr", "-subj", subject, "-config", "openssl.cnf")
        openssl("x509", "-req", "-in", name + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                "-set_serial", serial, "-days", "30", "-out", name + ".pem",
                "-extfile", "openssl.cnf", "-extensions", name)
    openssl("pkcs12", "-export", "-inkey", "sign.key", "-in", "sign.pem", "-certfile", "ca.pem",
            "-passout", "file:password", "-out", "sign.p12")
    return {k: str(d / v) for k, v in (
        ("ca", "ca.pem"), ("p12", "sign.p12"), ("password", "password"),
        ("tsa_cert", "tsa.pem"), ("tsa_key", "tsa.key"))}
