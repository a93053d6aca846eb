"""Tests of the loopback channel server (tools/channel_server.py)."""

import http.client
import json
import pathlib
import random
import shutil
import signal
import subprocess
import sys
import time
import urllib.error
import urllib.parse
import urllib.request

import pytest

TOOLS_DIR = pathlib.Path(__file__).resolve().parents[2] / "tools"
sys.path.insert(0, str(TOOLS_DIR))

import channel_server as cs  # noqa: E402

PACKAGE = random.Random(1).randbytes(1000)   # no repeating pattern, so a wrong offset shows
PKG_PATH = "/packages/qorn_1.0.0.1.zip"
CLIENT_TIMEOUT = 30  # a broken server must fail a test, not hang it


@pytest.fixture
def server():
    srv = cs.ChannelServer()
    srv.add_package(PKG_PATH, PACKAGE)
    with srv:
        yield srv


def request(srv, path, headers=None, method="GET"):
    """One request on a fresh connection: (status, headers, body)."""
    conn = http.client.HTTPConnection("127.0.0.1", srv.port, timeout=CLIENT_TIMEOUT)
    try:
        conn.request(method, path, headers=headers or {})
        resp = conn.getresponse()
        return resp.status, dict(resp.getheaders()), resp.read()
    finally:
        conn.close()


def short_read(srv, path, headers=None):
    """Fetch a body the server is expected to cut off; return (status, bytes received)."""
    conn = http.client.HTTPConnection("127.0.0.1", srv.port, timeout=CLIENT_TIMEOUT)
    try:
        conn.request("GET", path, headers=headers or {})
        resp = conn.getresponse()
        with pytest.raises(http.client.IncompleteRead) as err:
            resp.read()
        return resp.status, err.value.partial
    finally:
        conn.close()


# -- pure helpers ---------------------------------------------------------------------


@pytest.mark.parametrize("header, expected", [
    (None, None),
    ("bytes=600-", (600, 1000)),
    ("bytes=10-19", (10, 20)),
    ("bytes=990-5000", (990, 1000)),
    ("bytes=-100", (900, 1000)),
    ("bytes=-5000", (0, 1000)),
    ("bytes=999-", (999, 1000)),
    ("bytes=1000-", "unsatisfiable"),
    ("bytes=4000-4010", "unsatisfiable"),
    ("bytes=-0", "unsatisfiable"),
    ("bytes=20-10", None),
    ("bytes=0-1,5-6", None),
    ("items=0-1", None),
    ("bytes=-", None),
])
def test_parse_range(header, expected):
    assert cs.parse_range(header, 1000) == expected


@pytest.mark.parametrize("raw, expected", [
    (b"", []),
    (b"a=1&b=&c", [["a", "1"], ["b", ""], ["c", ""]]),
    (b"k=x=y", [["k", "x=y"]]),
    (b"m=a+b%2Bc%20d", [["m", "a+b+c d"]]),
    (b"m=%E6%B8%B8%E6%88%8F", [["m", "游戏"]]),
    (b"m=%B5%C7", [["m", "\ufffd\ufffd"]]),   # GBK bytes of a Chinese character are not UTF-8
    (b"a=1&a=2", [["a", "1"], ["a", "2"]]),
])
def test_parse_query(raw, expected):
    assert cs.parse_query(raw) == expected


# -- configuration document ---------------------------------------------------------


@pytest.mark.parametrize("body", [
    b"ClientVersion=1.0.0.1\nEntryUrl=http://127.0.0.1/e\n",
    b"ClientVersion=1.0.0.1\r\nClientDownloadUrl=http://x/q.zip\r\n",
    b"ClientVersion=1.0.3.7\nClientVersion=1.0.4.0\n",
    b"no equals sign here\n\nentryurl=lower\nCustomParameters=a=b&c=d",
    "CustomParameters=游戏\n".encode("gbk"),
    b"",
], ids=["lf", "crlf", "duplicate", "odd-lines", "gbk", "empty"])
def test_config_body_is_sent_byte_for_byte(server, body):
    server.set_config(body)
    status, headers, got = request(server, "/api/merth/ditches/palmet/client_config_palmet.php")
    assert (status, got, headers["Content-Length"]) == (200, body, str(len(body)))


@pytest.mark.parametrize("items, expected", [
    ({"ClientVersion": "1.0.0.2", "EntryUrl": "http://h/e"},
     b"ClientVersion=1.0.0.2\nEntryUrl=http://h/e\n"),
    ([("ClientVersion", "1.0.3.7"), ("ClientVersion", "1.0.4.0")],
     b"ClientVersion=1.0.3.7\nClientVersion=1.0.4.0\n"),
])
def test_config_built_from_pairs_has_lf_lines(server, items, expected):
    server.set_config(items)
    assert request(server, server.config_path)[2] == expected


def test_default_config_points_at_this_server():
    with cs.ChannelServer(ditch="xyz") as srv:
        srv.add_package("/p/game.zip", PACKAGE)
        assert srv.config_path == "/api/merth/ditches/xyz/client_config_xyz.php"
        status, _, body = request(srv, srv.config_path)
        lines = body.decode().split("\n")
        config = dict(line.split("=", 1) for line in lines if line)
        assert status == 200 and body.endswith(b"\n") and "\r" not in body.decode()
        assert config["ClientDownloadUrl"] == config["Client32DownloadUrl"] == srv.url("/p/game.zip")
        assert config["EntryUrl"] == srv.url(cs.DEFAULT_ENTRY_PATH)
        assert {"ClientVersion", "ClientMiniUpdateVersion", "CustomParameters"} <= set(config)
        assert urllib.request.urlopen(config["ClientDownloadUrl"], timeout=CLIENT_TIMEOUT).read() == PACKAGE


def test_base_url_token_is_replaced(server):
    server.set_config(b"EntryUrl=@BASE_URL@/entry/index.html\n")
    server.set_entry_page("<title>t</title><a href='@BASE_URL@/x'>")
    assert request(server, server.config_path)[2] == f"EntryUrl={server.base_url}/entry/index.html\n".encode()
    assert request(server, server.entry_path)[2] == f"<title>t</title><a href='{server.base_url}/x'>".encode()


# -- entry page -----------------------------------------------------------------------


def test_entry_page_is_html_and_ignores_the_query(server):
    status, headers, body = request(server, cs.DEFAULT_ENTRY_PATH + "?winid=525&token=abc")
    assert status == 200 and headers["Content-Type"].startswith("text/html")
    assert b"<title>" in body
    assert server.requests_for(cs.DEFAULT_ENTRY_PATH)[0]["query"] == "winid=525&token=abc"


def test_entry_page_content_and_path_are_settable(server):
    server.set_entry_page("<html><head><title>登录</title></head></html>", path="/web/login.html")
    assert request(server, "/web/login.html")[2].decode() == "<html><head><title>登录</title></head></html>"


# -- packages ------------------------------------------------------------------------


@pytest.mark.parametrize("in_memory", [True, False], ids=["memory", "file"])
def test_whole_package(tmp_path, in_memory):
    file = tmp_path / "q.zip"
    file.write_bytes(PACKAGE)
    with cs.ChannelServer() as srv:
        srv.add_package(PKG_PATH, PACKAGE if in_memory else file)
        status, headers, body = request(srv, PKG_PATH)
    assert (status, body) == (200, PACKAGE)
    assert headers["Content-Length"] == "1000" and "Content-Range" not in headers
    assert headers["Content-Type"] == "application/zip"


@pytest.mark.parametrize("range_header, status, start, end", [
    ("bytes=600-", 206, 600, 1000),
    ("bytes=0-99", 206, 0, 100),
    ("bytes=10-19", 206, 10, 20),
    ("bytes=990-2000", 206, 990, 1000),
    ("bytes=-100", 206, 900, 1000),
    ("bytes=999-", 206, 999, 1000),
    ("bytes=1000-", 416, None, None),
    ("bytes=5000-", 416, None, None),
    ("bytes=7-3", 200, 0, 1000),
])
def test_package_range(server, range_header, status, start, end):
    got_status, headers, body = request(server, PKG_PATH, {"Range": range_header})
    assert got_status == status
    if status == 206:
        assert body == PACKAGE[start:end]
        assert headers["Content-Range"] == f"bytes {start}-{end - 1}/1000"
        assert headers["Content-Length"] == str(end - start)
    elif status == 416:
        assert headers["Content-Range"] == "bytes */1000"
    else:
        assert body == PACKAGE and "Content-Range" not in headers
    assert server.requests_for(PKG_PATH)[-1]["range"] == range_header


def test_large_file_is_streamed_with_ranges(tmp_path):
    big = tmp_path / "big.zip"
    size = 8 * 1024 * 1024 + 3
    with open(big, "wb") as f:
        f.truncate(size)
        f.seek(size - 5)
        f.write(b"TAIL!")
    with cs.ChannelServer() as srv:
        srv.add_package("/big.zip", big)
        status, headers, body = request(srv, "/big.zip", {"Range": f"bytes={size - 10}-"})
        assert (status, body) == (206, b"\0" * 5 + b"TAIL!")
        status, _, body = request(srv, "/big.zip")
        assert (status, len(body), body[-5:]) == (200, size, b"TAIL!")
        assert srv.wait_for_requests(lambda r: r["bytes_sent"] == size) is not None


def test_head_gives_length_without_body(server):
    status, headers, body = request(server, PKG_PATH, method="HEAD")
    assert (status, headers["Content-Length"], body) == (200, "1000", b"")


def test_keep_alive_serves_several_requests_on_one_connection(server):
    conn = http.client.HTTPConnection("127.0.0.1", server.port, timeout=CLIENT_TIMEOUT)
    try:
        bodies = []
        for path in (server.config_path, PKG_PATH, "/missing", PKG_PATH):
            conn.request("GET", path)
            bodies.append(conn.getresponse().read())
    finally:
        conn.close()
    assert bodies[1] == bodies[3] == PACKAGE
    assert len({r["peer_port"] for r in server.requests}) == 1


def test_unknown_path_is_404_and_logged(server):
    assert request(server, "/nothing/here?x=1")[0] == 404
    entry = server.wait_for_requests(lambda r: r["complete"] is not None)
    assert (entry["method"], entry["query"], entry["status"], entry["complete"]) == ("GET", "x=1", 404, True)
    assert entry["time"] <= entry["end_time"] <= time.time()


def test_add_package_rejects_missing_file_and_relative_path(server, tmp_path):
    with pytest.raises(ValueError):
        server.add_package("/x.zip", tmp_path / "absent.zip")
    with pytest.raises(ValueError):
        server.add_package("x.zip", b"data")


def test_removed_package_is_404(server):
    server.remove_package(PKG_PATH)
    assert request(server, PKG_PATH)[0] == 404


# -- faults ----------------------------------------------------------------------------


@pytest.mark.parametrize("fault_path, path, status", [
    (PKG_PATH, PKG_PATH, 404),
    (PKG_PATH, PKG_PATH, 500),
    (cs.config_path_for("palmet"), cs.config_path_for("palmet"), 503),
    ("*", cs.DEFAULT_ENTRY_PATH, 500),
    ("/unknown", "/unknown", 200),
])
def test_status_fault(server, fault_path, path, status):
    server.set_fault(fault_path, status=status)
    got, _, body = request(server, path)
    assert got == status and b"injected" in body
    assert server.requests_for(path)[-1]["fault"] == {"status": status}


@pytest.mark.parametrize("range_header, drop_after, expected_status, expected", [
    (None, 300, 200, PACKAGE[:300]),
    ("bytes=600-", 100, 206, PACKAGE[600:700]),
    (None, 0, 200, b""),
], ids=["whole", "range", "no-body"])
def test_drop_after_gives_a_short_read(server, range_header, drop_after, expected_status, expected):
    server.set_fault(PKG_PATH, drop_after=drop_after)
    headers = {"Range": range_header} if range_header else {}
    assert short_read(server, PKG_PATH, headers) == (expected_status, expected)
    entry = server.wait_for_requests(lambda r: r["complete"] is not None)
    assert (entry["bytes_sent"], entry["complete"]) == (len(expected), False)


def test_endless_sends_the_body_then_zeros_without_a_length_until_the_client_hangs_up(server):
    server.set_fault(PKG_PATH, endless=True)
    conn = http.client.HTTPConnection("127.0.0.1", server.port, timeout=CLIENT_TIMEOUT)
    try:
        conn.request("GET", PKG_PATH)
        resp = conn.getresponse()
        assert resp.status == 200 and resp.getheader("Content-Length") is None
        received = resp.read(len(PACKAGE) + 3 * (1 << 20))
        assert received == PACKAGE + bytes(3 * (1 << 20))
        resp.close()  # the connection's socket stays open while the response holds it
    finally:
        conn.close()
    entry = server.wait_for_requests(lambda r: r["complete"] is not None)
    assert entry["bytes_sent"] >= len(PACKAGE) + 3 * (1 << 20)


def test_ignore_range_answers_200_with_whole_body(server):
    server.set_fault(PKG_PATH, ignore_range=True)
    status, headers, body = request(server, PKG_PATH, {"Range": "bytes=600-"})
    assert (status, body) == (200, PACKAGE) and "Content-Range" not in headers


def test_if_range_gives_the_range_only_for_the_same_package(server, tmp_path):
    _, first, _ = request(server, PKG_PATH)
    etag, modified = first["ETag"], first["Last-Modified"]
    for validator in (etag, modified):
        status, _, body = request(server, PKG_PATH, {"Range": "bytes=600-", "If-Range": validator})
        assert (status, body) == (206, PACKAGE[600:])
    server.add_package(PKG_PATH, PACKAGE[::-1])  # the package changed under the same URL
    status, headers, body = request(server, PKG_PATH, {"Range": "bytes=600-", "If-Range": etag})
    assert (status, body) == (200, PACKAGE[::-1]) and headers["ETag"] != etag
    server.set_fault(PKG_PATH, hide_validators=True)
    status, headers, _ = request(server, PKG_PATH, {"Range": "bytes=600-", "If-Range": headers["ETag"]})
    assert status == 200 and "ETag" not in headers and "Last-Modified" not in headers


def test_a_weak_etag_never_matches_if_range_but_last_modified_does(server):
    server.set_fault(PKG_PATH, weak_etag=True)
    _, headers, _ = request(server, PKG_PATH)
    assert headers["ETag"].startswith('W/"')
    status, _, body = request(server, PKG_PATH, {"Range": "bytes=600-", "If-Range": headers["ETag"]})
    assert (status, body) == (200, PACKAGE)
    status, _, body = request(server, PKG_PATH, {"Range": "bytes=600-", "If-Range": headers["Last-Modified"]})
    assert (status, body) == (206, PACKAGE[600:])
    server.set_fault(PKG_PATH, weak_etag=True, hide_last_modified=True)
    _, headers, _ = request(server, PKG_PATH)
    assert "Last-Modified" not in headers and headers["ETag"].startswith('W/"')


def test_redirect_chain_is_followed_to_the_final_target(server):
    server.set_fault("/a.zip", redirect_to="/b.zip", redirect_code=301)
    server.set_fault("/b.zip", redirect_to=server.url(PKG_PATH), redirect_code=302)
    with urllib.request.urlopen(server.url("/a.zip"), timeout=CLIENT_TIMEOUT) as resp:
        assert (resp.status, resp.read(), resp.url) == (200, PACKAGE, server.url(PKG_PATH))
    assert [(r["path"], r["status"]) for r in server.requests] == [
        ("/a.zip", 301), ("/b.zip", 302), (PKG_PATH, 200)]


def test_redirect_location_is_absolute(server):
    server.set_fault("/old", redirect_to="/new")
    status, headers, _ = request(server, "/old")
    assert (status, headers["Location"]) == (302, server.url("/new"))


def test_redirect_that_ends_in_404(server):
    server.set_fault("/a", redirect_to="/missing")
    with pytest.raises(urllib.error.HTTPError) as err:
        urllib.request.urlopen(server.url("/a"), timeout=CLIENT_TIMEOUT)
    assert err.value.code == 404


@pytest.mark.parametrize("headers, expected", [
    ({}, PACKAGE),
    ({"Range": "bytes=900-"}, PACKAGE[900:]),
], ids=["whole", "range"])
def test_trickle_delivers_every_byte(server, headers, expected):
    server.set_fault(PKG_PATH, trickle_bytes=40, trickle_interval=0.005)
    assert request(server, PKG_PATH, headers)[2] == expected
    assert server.wait_for_requests(lambda r: r["complete"] is not None)["complete"] is True


def test_trickle_past_its_limit_sends_the_rest_at_once(server):
    server.set_fault(PKG_PATH, trickle_bytes=1, trickle_interval=60, trickle_limit=0)
    assert request(server, PKG_PATH)[2] == PACKAGE


def test_stall_sends_part_then_closes(server):
    server.set_fault(PKG_PATH, stall_after=100, stall_seconds=0.2)
    assert short_read(server, PKG_PATH) == (200, PACKAGE[:100])


def test_stop_releases_a_stalled_client(server):
    server.set_fault(PKG_PATH, stall_after=100, stall_seconds=120)
    conn = http.client.HTTPConnection("127.0.0.1", server.port, timeout=CLIENT_TIMEOUT)
    try:
        conn.request("GET", PKG_PATH)
        resp = conn.getresponse()
        assert resp.read(100) == PACKAGE[:100]   # the stall has begun once these are here
        server.stop()
        with pytest.raises(http.client.IncompleteRead) as err:
            resp.read()
        assert err.value.partial == b""
    finally:
        conn.close()


def test_one_shot_fault_reverts(server):
    server.add_fault(PKG_PATH, status=500, times=1)
    assert [request(server, PKG_PATH)[0] for _ in range(3)] == [500, 200, 200]
    assert server.faults() == {}


def test_queued_faults_apply_in_order(server):
    server.add_fault(PKG_PATH, status=503, times=1)
    server.add_fault(PKG_PATH, drop_after=10, times=2)
    assert server.faults() == {PKG_PATH: [{"status": 503, "times": 1},
                                          {"drop_after": 10, "times": 2}]}
    assert request(server, PKG_PATH)[0] == 503
    assert short_read(server, PKG_PATH) == (200, PACKAGE[:10])
    assert short_read(server, PKG_PATH, {"Range": "bytes=600-"}) == (206, PACKAGE[600:610])
    assert request(server, PKG_PATH, {"Range": "bytes=600-"})[2] == PACKAGE[600:]


def test_set_fault_replaces_and_clear_faults_removes(server):
    server.add_fault(PKG_PATH, status=500, times=5)
    server.set_fault(PKG_PATH, status=404)
    server.set_fault("/other", status=500)
    assert request(server, PKG_PATH)[0] == 404
    server.clear_faults(PKG_PATH)
    assert list(server.faults()) == ["/other"]
    server.clear_faults()
    assert (server.faults(), request(server, PKG_PATH)[0]) == ({}, 200)


@pytest.mark.parametrize("fields", [
    {"colour": "red"}, {"times": 0}, {"trickle_bytes": 0}, {"drop_after": -1},
    {"status": 42}, {"redirect_to": "/x", "redirect_code": 1000}, {"status": "abc"},
])
def test_bad_fault_is_rejected(server, fields):
    with pytest.raises(ValueError):
        server.set_fault(PKG_PATH, **fields)


def test_fault_values_given_as_text_are_converted(server):
    server.set_fault(PKG_PATH, status="503", drop_after="4")
    assert server.faults() == {PKG_PATH: [{"status": 503, "drop_after": 4}]}


def test_fault_holds_are_bounded():
    fault = cs.Fault.from_dict({"stall_after": 1, "stall_seconds": 9999, "trickle_limit": 9999})
    assert fault.stall_seconds == fault.trickle_limit == cs.MAX_HOLD_SECONDS


# -- statistics reports -------------------------------------------------------------------


def launcher_query(**extra):
    """Query string shaped like the launcher's: the first values unescaped, the rest escaped."""
    query = "client_uid=ABCDEF0123&ditch_name=palmet&mac=00-11-22-33-44-55"
    query += "&os_version=" + urllib.parse.quote("Windows 10 x64/Intel(R) 8GB", safe="")
    for key, value in extra.items():
        query += f"&{key}={value}"
    return query


def test_reports_are_recorded_with_decoded_text(server):
    message = "创建数据目录失败,错误id:5 a/b?c&d"
    error_query = launcher_query(error_msg=urllib.parse.quote(message, safe=""))
    assert request(server, "/api/laucher_info.php?" + launcher_query(ac="create"))[0] == 200
    assert request(server, "/api/laucher_error.php?" + error_query)[0] == 200
    info, error = server.wait_for_reports(2)
    assert (info["kind"], cs.first_param(info, "ac")) == ("info", "create")
    assert error["kind"] == "error" and error["path"] == cs.ERROR_REPORT_PATH
    assert error["query"] == error_query
    assert [k for k, _ in error["params"]] == ["client_uid", "ditch_name", "mac", "os_version", "error_msg"]
    assert cs.first_param(error, "error_msg") == message
    assert cs.first_param(error, "os_version") == "Windows 10 x64/Intel(R) 8GB"
    assert cs.first_param(error, "missing", "none") == "none"
    assert ["Host", f"127.0.0.1:{server.port}"] in error["headers"]


def test_report_with_raw_non_ascii_bytes_keeps_them(server):
    # A client may put unescaped bytes on the wire; the raw query keeps them exactly.
    raw = "error_msg=".encode() + "游戏".encode("gbk")
    conn = http.client.HTTPConnection("127.0.0.1", server.port, timeout=CLIENT_TIMEOUT)
    try:
        conn.connect()
        conn.sock.sendall(b"GET /api/laucher_error.php?" + raw + b" HTTP/1.1\r\nHost: x\r\n\r\n")
        assert conn.sock.recv(100).startswith(b"HTTP/1.1 200")
    finally:
        conn.close()
    (report,) = server.wait_for_reports(1)
    assert report["query"].encode("latin-1") == raw


def test_reports_are_recorded_even_under_a_fault(server):
    server.set_fault(cs.INFO_REPORT_PATH, status=500)
    assert request(server, cs.INFO_REPORT_PATH + "?ac=download_start")[0] == 500
    assert cs.first_param(server.wait_for_reports(1)[0], "ac") == "download_start"


def test_reports_and_requests_logs_are_json_lines(tmp_path):
    reports_log, requests_log = tmp_path / "reports.jsonl", tmp_path / "requests.jsonl"
    with cs.ChannelServer(reports_log=reports_log, requests_log=requests_log) as srv:
        for ac in ("create", "game_start"):
            request(srv, f"{cs.INFO_REPORT_PATH}?ac={ac}")
        request(srv, cs.ERROR_REPORT_PATH + "?error_msg=%E6%B8%B8%E6%88%8F")
        request(srv, "/missing")
    reports = [json.loads(line) for line in reports_log.read_text(encoding="utf-8").splitlines()]
    requests = [json.loads(line) for line in requests_log.read_text(encoding="utf-8").splitlines()]
    assert [cs.first_param(r, "ac") or cs.first_param(r, "error_msg") for r in reports] == [
        "create", "game_start", "游戏"]
    assert [(r["path"], r["status"]) for r in requests][-1] == ("/missing", 404)


def test_clear_logs(server):
    request(server, cs.INFO_REPORT_PATH + "?ac=create")
    server.wait_for_reports(1)
    server.clear_logs()
    assert (server.reports, server.requests) == ([], [])


# -- command line and control endpoints -----------------------------------------------------


@pytest.fixture
def cli(tmp_path):
    """The server as a separate process, as the end-to-end tests run it."""
    (tmp_path / "config.txt").write_bytes(b"ClientVersion=1.0.0.1\r\nClientDownloadUrl=@BASE_URL@" +
                                          PKG_PATH.encode() + b"\n")
    (tmp_path / "qorn.zip").write_bytes(PACKAGE)
    (tmp_path / "entry.html").write_text("<title>entry</title>")
    port_file = tmp_path / "port.txt"
    proc = subprocess.Popen(
        [sys.executable, str(TOOLS_DIR / "channel_server.py"), "--port", "0",
         "--port-file", str(port_file), "--config-file", str(tmp_path / "config.txt"),
         "--package", f"{PKG_PATH}={tmp_path / 'qorn.zip'}",
         "--package", f"/other.zip={tmp_path / 'qorn.zip'}",
         "--fault", '/other.zip={"status": 500, "times": 1}',
         "--entry-page", str(tmp_path / "entry.html"), "--entry-path", "/e.html",
         "--reports-log", str(tmp_path / "reports.jsonl"),
         "--requests-log", str(tmp_path / "requests.jsonl")],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        banner = proc.stdout.readline()   # printed once the port file is in place
        assert "listening on http://127.0.0.1:" in banner, proc.stderr.read()
        proc.port = int(port_file.read_text())
        proc.dir = tmp_path
        yield proc
    finally:
        if proc.poll() is None:
            proc.kill()
        proc.wait()
        proc.stdout.close()
        proc.stderr.close()


def call(port, path, body=None):
    req = urllib.request.Request(f"http://127.0.0.1:{port}{path}", data=body)
    try:
        with urllib.request.urlopen(req, timeout=CLIENT_TIMEOUT) as resp:
            return resp.status, resp.read()
    except urllib.error.HTTPError as err:
        return err.code, err.read()


def control(port, name, value=None):
    body = None if value is None else (value if isinstance(value, bytes) else json.dumps(value).encode())
    status, data = call(port, "/_control/" + name, body)
    return status, json.loads(data)


def test_cli_serves_its_files(cli):
    port = cli.port
    assert call(port, cs.config_path_for("palmet")) == (
        200, f"ClientVersion=1.0.0.1\r\nClientDownloadUrl=http://127.0.0.1:{port}{PKG_PATH}\n".encode())
    assert call(port, PKG_PATH) == (200, PACKAGE)
    assert call(port, "/e.html") == (200, b"<title>entry</title>")
    assert [call(port, "/other.zip")[0] for _ in range(2)] == [500, 200]
    assert control(port, "ping") == (200, {"ok": True, "port": port})


def test_control_endpoints_from_outside(cli):
    port = cli.port
    assert control(port, "faults/clear") == (200, {})
    assert control(port, "faults/add", {"path": PKG_PATH, "drop_after": 5, "times": 1})[0] == 200
    assert control(port, "faults/set", {"path": "/x", "status": 404}) == (
        200, {PKG_PATH: [{"drop_after": 5, "times": 1}], "/x": [{"status": 404}]})
    assert control(port, "faults/clear", {"path": "/x"}) == (200, {PKG_PATH: [{"drop_after": 5, "times": 1}]})
    with pytest.raises(http.client.IncompleteRead):
        urllib.request.urlopen(f"http://127.0.0.1:{port}{PKG_PATH}", timeout=CLIENT_TIMEOUT).read()
    assert call(port, PKG_PATH) == (200, PACKAGE)

    assert control(port, "config", b"ClientVersion=2.0.0.0\n")[0] == 200
    assert call(port, cs.config_path_for("palmet")) == (200, b"ClientVersion=2.0.0.0\n")
    control(port, "entry", "<title>新</title>".encode())
    assert call(port, "/e.html")[1].decode() == "<title>新</title>"
    control(port, "package", {"path": "/new.zip", "file": str(cli.dir / "qorn.zip")})
    assert call(port, "/new.zip", None) == (200, PACKAGE)

    call(port, cs.ERROR_REPORT_PATH + "?error_msg=game%20start%20success")
    _, reports = control(port, "reports")
    assert [cs.first_param(r, "error_msg") for r in reports] == ["game start success"]
    _, requests = control(port, "requests?since=1")
    assert [(r["path"], r["status"]) for r in requests][:2] == [(PKG_PATH, 200), (cs.config_path_for("palmet"), 200)]
    assert all(not r["path"].startswith("/_control/") for r in requests)
    assert control(port, "clear") == (200, {"ok": True})
    assert control(port, "requests") == (200, [])


@pytest.mark.parametrize("name, value, status", [
    ("nope", None, 404),
    ("faults/set", {"status": 500}, 400),           # no path
    ("faults/add", {"path": "/x", "colour": 1}, 400),
    ("faults/set", b"{not json", 400),
])
def test_bad_control_requests(cli, name, value, status):
    assert control(cli.port, name, value)[0] == status


@pytest.mark.parametrize("sig", [signal.SIGTERM, signal.SIGINT])
def test_cli_stops_cleanly_on_signal(cli, sig):
    call(cli.port, cs.INFO_REPORT_PATH + "?ac=create")
    cli.send_signal(sig)
    assert cli.wait(CLIENT_TIMEOUT) == 0
    reports = (cli.dir / "reports.jsonl").read_text(encoding="utf-8").splitlines()
    assert cs.first_param(json.loads(reports[0]), "ac") == "create"


# -- with the curl command line, as libcurl clients see the server ------------------------------

CURL = shutil.which("curl")
needs_curl = pytest.mark.skipif(CURL is None, reason="curl command not installed")


def run_curl(*args):
    return subprocess.run([CURL, "-s", "-S", "--max-time", str(CLIENT_TIMEOUT), *args],
                          capture_output=True)


@needs_curl
def test_curl_resumes_a_partial_download(server, tmp_path):
    out = tmp_path / "qorn.zip"
    out.write_bytes(PACKAGE[:600])
    done = run_curl("-C", "-", "-o", str(out), "-w", "%{http_code}", server.url(PKG_PATH))
    assert (done.returncode, done.stdout, out.read_bytes()) == (0, b"206", PACKAGE)
    assert server.requests_for(PKG_PATH)[0]["range"] == "bytes=600-"


@needs_curl
def test_curl_follows_a_redirect_chain(server):
    server.set_fault("/a", redirect_to="/b", redirect_code=301)
    server.set_fault("/b", redirect_to=PKG_PATH)
    done = run_curl("-L", server.url("/a"))
    assert (done.returncode, done.stdout) == (0, PACKAGE)


@needs_curl
@pytest.mark.parametrize("fault, exit_code", [
    ({"drop_after": 300}, 18),                      # partial file
    ({"ignore_range": True}, 33),                   # range asked, whole body answered
    ({"status": 500}, 22),                          # with --fail
])
def test_curl_sees_the_fault(server, tmp_path, fault, exit_code):
    server.set_fault(PKG_PATH, **fault)
    done = run_curl("--fail", "-C", "600", "-o", str(tmp_path / "out"), server.url(PKG_PATH))
    assert done.returncode == exit_code
