"""The launcher's own check of https servers, under Wine, whose TLS layer accepts any
certificate. A throwaway authority made by the test (tests/support/tls_fixtures.py) is trusted
in the scenario's own prefix only; the package comes from an https channel server on loopback
(its URL is the configuration's), the configuration from the compiled-in http URL, answered
with a 302 to an https server where a case needs the configuration over https. A refused
server never receives the request, and nothing is installed."""
import sys

import pytest
from conftest import BUILD, INSTALL_DIR, LAUNCHER, REPO, read_log_bytes
from channel_server import ChannelServer
from test_install import PACKAGE_PATH, close_launcher, configure, make_package, wait_status

sys.path.insert(0, str(REPO / "tests" / "support"))
from tls_fixtures import make_tls_fixtures  # noqa: E402

SPLASH = "Vantorra"
TRUST_ROOT = BUILD / "tools" / "trust_root.exe"
REFUSAL = b"server certificate refused for 127.0.0.1: "
# (certificate, whether the prefix trusts the test's authority, the reason in the log; None: accepted)
CASES = {
    "trusted": ("good", True, None),
    "authority not trusted": ("good", False, b"not issued by a trusted root"),
    "another host name": ("wrong_host", True, b"issued for another host name"),
    "expired": ("expired", True, b"expired or not yet valid"),
}


@pytest.fixture(scope="module")
def tls(tmp_path_factory):
    return make_tls_fixtures(tmp_path_factory.mktemp("tls"))


@pytest.fixture
def https_server(tls, request):
    """An https channel server presenting the certificate the test names."""
    certificate = getattr(tls, request.param)
    server = ChannelServer(port=0, tls_context=certificate.server_context()).start()
    yield server
    server.stop()


def trust_test_authority(desktop, tls):
    desktop.path(r"C:\test-root.der").write_bytes(tls.ca_der.read_bytes())
    result = desktop.prefix.run_capture(TRUST_ROOT, [r"C:\test-root.der"])
    assert result.returncode == 0, result.stderr.decode(errors="replace")


def installed(desktop) -> bool:
    return desktop.path(INSTALL_DIR + r"\client\qorn\qorn.exe").exists()


def run_launcher(desktop, status):
    proc = desktop.start(LAUNCHER)
    desktop.wait_window(SPLASH)
    wait_status(desktop, status)
    close_launcher(desktop, proc)
    return read_log_bytes(desktop)


@pytest.mark.parametrize("https_server,trusted,reason", [pytest.param(*CASES[name], id=name) for name in CASES],
                         indirect=["https_server"])
def test_package_over_https(desktop, channel, tls, https_server, trusted, reason):
    if trusted:
        trust_test_authority(desktop, tls)
    package = make_package()
    https_server.add_package(PACKAGE_PATH, package)
    configure(channel, package, package_host=https_server.base_url)
    log = run_launcher(desktop, "更新已完成" if reason is None else "更新失败,请检查网络:103")
    requests = https_server.requests_for(PACKAGE_PATH)
    if reason is None:
        assert installed(desktop)
        assert len(requests) == 1 and requests[0]["complete"]
        assert REFUSAL not in log
    else:
        assert REFUSAL + reason in log
        assert log.index(REFUSAL) < log.index(b"download is error!") < log.index(b"download error")
        assert requests == [], "the package was requested from a refused server"
        assert not installed(desktop)
        assert not desktop.path(INSTALL_DIR + r"\client\game_client_version.txt").exists()


@pytest.mark.parametrize("https_server,trusted,reason",
                         [pytest.param(*CASES[name], id=name) for name in ("trusted", "authority not trusted")],
                         indirect=["https_server"])
def test_configuration_redirected_to_https(desktop, channel, tls, https_server, trusted, reason):
    """The compiled-in http URL answers 302 to the https server, which serves the document
    and the package."""
    if trusted:
        trust_test_authority(desktop, tls)
    configure(https_server, make_package())
    channel.set_fault(channel.config_path, redirect_to=https_server.url(https_server.config_path))
    log = run_launcher(desktop, "更新已完成" if reason is None else "更新失败,请检查网络:102")
    assert len(channel.requests_for(channel.config_path)) == 1
    requested = [r["path"] for r in https_server.requests]
    if reason is None:
        # The entry page comes from there too, through the browser.
        assert requested[0] == https_server.config_path and requested.count(PACKAGE_PATH) == 1
        assert installed(desktop)
    else:
        assert REFUSAL + reason in log
        assert requested == [], "a refused server was sent a request"
        assert not installed(desktop)
