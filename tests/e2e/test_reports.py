"""Reports of a launcher start as the statistics server receives them, the report URLs in the
log, and the browser emulation values start-up writes into the registry."""
import re

from conftest import INSTALL_DIR, LAUNCHER, TEST_PORT, VARIANT, read_log_bytes, wait_for
from desktop import button_texts, message_box_text

SPLASH = "Vantorra"
CLOSE_BUTTON = 101
COMMON_KEYS = ["client_uid", "ditch_name", "mac", "os_version"]
UID = re.compile(r"[0-9a-f]{40}|unkown")
MAC = re.compile(r"[0-9A-F]{2}(-[0-9A-F]{2}){5}|unkown")
OS_DESCRIPTION = re.compile(r"Version major:\d+ minor:\d+ build:\d+.*physical memory:\d+ MB virtual memory:\d+ MB")
# On 64-bit Windows (always so for the x86_64 build) the launcher uses the keys a 32-bit
# launcher uses there, below "Wow6432Node"; the 32-bit prefix of the i686 build has none.
WOW = "Wow6432Node\\" if VARIANT == "win64" else ""
EMULATION_KEY = rf"Software\{WOW}Microsoft\Internet Explorer\Main\FeatureControl\FEATURE_BROWSER_EMULATION"
PLAIN_EMULATION_KEY = r"Software\Microsoft\Internet Explorer\Main\FeatureControl\FEATURE_BROWSER_EMULATION"


def keys(report):
    return [k for k, _ in report["params"]]


def values(report):
    return dict(report["params"])


def check_common(report):
    v = values(report)
    assert UID.fullmatch(v["client_uid"]), v
    assert v["ditch_name"] == "palmet"
    assert MAC.fullmatch(v["mac"]), v
    assert OS_DESCRIPTION.fullmatch(v["os_version"]), v
    # Sent escaped: the blanks of the description travel as %20.
    assert "&os_version=Version%20major:" in report["query"]


def reg_values(desktop, key):
    """name -> data text of the values of one registry key ({} when the key is missing)."""
    out = desktop.prefix.run_capture("reg", ["query", key]).stdout.decode("utf-8", "replace")
    found = {}
    for line in out.splitlines():
        parts = line.strip().split(None, 2)
        if len(parts) >= 2 and parts[1].startswith("REG_"):
            found[parts[0]] = parts[2] if len(parts) == 3 else ""
    return found


def test_start_reports_create_and_launcher_start_and_sets_emulation(desktop, channel):
    proc = desktop.start(LAUNCHER)
    desktop.wait_window(SPLASH)
    reports = channel.wait_for_reports(2, timeout=30)
    desktop.click_id(SPLASH, CLOSE_BUTTON)
    assert desktop.wait_exit(proc) == 0

    assert len(reports) == 2, reports
    info = next(r for r in reports if r["kind"] == "info")
    error = next(r for r in reports if r["kind"] == "error")
    assert info["path"] == "/api/laucher_info.php" and info["method"] == "GET"
    assert keys(info) == COMMON_KEYS + ["ac"]
    assert values(info)["ac"] == "create"
    check_common(info)
    assert error["path"] == "/api/laucher_error.php"
    assert keys(error) == COMMON_KEYS + ["error_msg"]
    assert values(error)["error_msg"] == "launcher start"
    check_common(error)
    assert values(info)["client_uid"] == values(error)["client_uid"]

    # Which number belongs to which browser version is the Windows tests' table; here: every
    # key the launcher writes holds both programs with one and the same document mode. The
    # current user's plain key is the one a browser reads, also on 64-bit Windows.
    numbers = set()
    for key in (rf"HKLM\{EMULATION_KEY}", rf"HKCU\{EMULATION_KEY}", rf"HKCU\{PLAIN_EMULATION_KEY}"):
        emulation = reg_values(desktop, key)
        for program in ("Vantorra.exe", "WebBrowserTool.exe"):
            assert program in emulation, (key, emulation)
            numbers.add(int(emulation[program], 16))
    assert len(numbers) == 1 and numbers <= {11001, 10001, 9999, 8888, 7000}, numbers


def test_log_names_the_url_of_every_report(desktop, channel):
    for _ in range(2):  # the first start reports before its log folder exists
        proc = desktop.start(LAUNCHER)
        desktop.wait_window(SPLASH)
        channel.wait_for_reports(2, timeout=30)
        channel.clear_logs()
        desktop.click_id(SPLASH, CLOSE_BUTTON)
        assert desktop.wait_exit(proc) == 0
    log = read_log_bytes(desktop).decode("latin-1")
    base = f"http://127.0.0.1:{TEST_PORT}/api/"
    assert re.search(r"\[INFO\]\[WebLogger::LogEvent::\d+\] " + re.escape(base) +
                     r"laucher_info\.php\?client_uid=\S+&ditch_name=palmet&mac=\S+&os_version=Version%20\S+&ac=create\r\n",
                     log), log
    assert re.search(r"\[INFO\]\[WebLogger::Log::\d+\] " + re.escape(base) +
                     r"laucher_error\.php\?client_uid=\S+&error_msg=launcher%20start\r\n", log), log


def test_directory_failure_is_reported_with_its_chinese_message(desktop, channel):
    desktop.path(INSTALL_DIR).write_bytes(b"not a directory")
    proc = desktop.start(LAUNCHER)
    box = desktop.wait_window("Vantorra")
    message = "创建数据目录失败,错误id:183"
    assert message_box_text(box) == message
    # The report travels while the message box's loop serves the launcher's messages.
    report = wait_for(lambda: next((r for r in channel.reports
                                    if values(r).get("error_msg") == message), None))
    assert report is not None, channel.reports
    assert keys(report) == COMMON_KEYS + ["error_msg"]
    # Non-ASCII text goes out as percent-encoded UTF-8, whatever the player's code page.
    assert "&error_msg=%E5%88%9B%E5%BB%BA" in report["query"]
    desktop.click("Vantorra", button_texts(box)[0])
    assert desktop.wait_exit(proc) == 255
