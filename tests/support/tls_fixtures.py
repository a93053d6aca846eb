"""Throwaway certificates for tests of the launcher's own TLS check, made with the openssl tool.

    make_tls_fixtures(folder) -> TlsFixtures

Two certification authorities: `ca`, which a test adds to the root store of its own Wine prefix,
and `other_ca`, which nothing ever trusts. Server certificates (each a .pem with its .key):

    good        from ca, for 127.0.0.1 (as a DNS name and as an IP address), valid now
    untrusted   from other_ca, otherwise like good
    wrong_host  from ca, valid now, but for another host name only
    expired     from ca, for 127.0.0.1, whose validity ended yesterday

Nothing outside `folder` is read or written: no system store or CA bundle is touched."""
import dataclasses
import datetime
import ssl
import subprocess
from pathlib import Path

CA_CONFIG = """\
[ca]
default_ca = test_ca
[test_ca]
database = {folder}/{name}.index
new_certs_dir = {folder}
serial = {folder}/{name}.serial
default_md = sha256
policy = any_name
unique_subject = no
email_in_dn = no
[any_name]
commonName = supplied
"""
CA_EXTENSIONS = """\
[ext]
basicConstraints = critical,CA:true
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
"""
SERVER_EXTENSIONS = """\
[ext]
basicConstraints = critical,CA:false
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
subjectAltName = {names}
"""
LOOPBACK_NAMES = "DNS:127.0.0.1,IP:127.0.0.1"
OTHER_HOST = "other-host.invalid"


@dataclasses.dataclass
class ServerCertificate:
    cert: Path
    key: Path

    def server_context(self) -> ssl.SSLContext:
        """A server-side context presenting this certificate."""
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(self.cert, self.key)
        return context


@dataclasses.dataclass
class TlsFixtures:
    ca: Path          # PEM of the authority a test trusts
    ca_der: Path      # the same in DER, as Windows stores take it
    other_ca: Path
    good: ServerCertificate
    untrusted: ServerCertificate
    wrong_host: ServerCertificate
    expired: ServerCertificate


def _openssl(*args: str) -> None:
    subprocess.run(["openssl", *args], check=True, capture_output=True)


def _stamp(moment: datetime.datetime) -> str:
    return moment.strftime("%Y%m%d%H%M%SZ")


class _Authority:
    def __init__(self, folder: Path, name: str, subject: str, start: datetime.datetime, end: datetime.datetime):
        self.folder, self.name = folder, name
        self.config = folder / f"{name}.cnf"
        self.config.write_text(CA_CONFIG.format(folder=folder, name=name))
        (folder / f"{name}.index").write_text("")
        (folder / f"{name}.serial").write_text("1000\n")
        self.key = folder / f"{name}.key"
        self.cert = folder / f"{name}.pem"
        _openssl("genrsa", "-out", str(self.key), "2048")
        self._sign(self.key, subject, CA_EXTENSIONS, start, end, self.cert, self_signed=True)

    def _sign(self, key: Path, subject: str, extensions: str, start, end, out: Path, self_signed=False):
        request = out.with_suffix(".csr")
        ext = out.with_suffix(".ext")
        ext.write_text(extensions)
        _openssl("req", "-new", "-key", str(key), "-subj", subject, "-out", str(request))
        issuer = ["-selfsign"] if self_signed else ["-cert", str(self.cert)]
        _openssl("ca", "-batch", "-notext", "-config", str(self.config), *issuer, "-keyfile", str(self.key),
                 "-in", str(request), "-out", str(out), "-startdate", _stamp(start), "-enddate", _stamp(end),
                 "-extfile", str(ext), "-extensions", "ext")

    def issue(self, name: str, common_name: str, names: str, start, end) -> ServerCertificate:
        key = self.folder / f"{name}.key"
        cert = self.folder / f"{name}.pem"
        _openssl("genrsa", "-out", str(key), "2048")
        self._sign(key, f"/CN={common_name}", SERVER_EXTENSIONS.format(names=names), start, end, cert)
        return ServerCertificate(cert, key)


def make_tls_fixtures(folder: Path) -> TlsFixtures:
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    now = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)
    day = datetime.timedelta(days=1)
    # A random name per run: an authority left in some store by an earlier run is never this one.
    tag = subprocess.run(["openssl", "rand", "-hex", "6"], check=True, capture_output=True, text=True).stdout.strip()
    ca = _Authority(folder, "ca", f"/CN=Launcher test root {tag}", now - 30 * day, now + 30 * day)
    other = _Authority(folder, "other_ca", f"/CN=Launcher untrusted root {tag}", now - 30 * day, now + 30 * day)
    ca_der = folder / "ca.der"
    _openssl("x509", "-in", str(ca.cert), "-outform", "DER", "-out", str(ca_der))
    return TlsFixtures(
        ca=ca.cert,
        ca_der=ca_der,
        other_ca=other.cert,
        good=ca.issue("good", "127.0.0.1", LOOPBACK_NAMES, now - day, now + 10 * day),
        untrusted=other.issue("untrusted", "127.0.0.1", LOOPBACK_NAMES, now - day, now + 10 * day),
        wrong_host=ca.issue("wrong_host", OTHER_HOST, f"DNS:{OTHER_HOST}", now - day, now + 10 * day),
        expired=ca.issue("expired", "127.0.0.1", LOOPBACK_NAMES, now - 10 * day, now - day),
    )
