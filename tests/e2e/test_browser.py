"""The entry page in the launcher's browser, through the stand-in browser control: the page's
address, its message boxes, the windows it opens, the keys it gets and its context menu."""
import pytest
from conftest import LAUNCHER, wait_for
from desktop import button_texts, message_box_text
from test_install import configure, make_package
from test_login_launch import install_current_client, log_messages, page

SPLASH = "Vantorra"
CLOSE_BUTTON = 101
VK_F5, VK_A, VK_B, VK_N = 0x74, 0x41, 0x42, 0x4E


def standin_log(desktop) -> list[str]:
    path = desktop.path(r"C:\standin_browser.log")
    return path.read_text(encoding="utf-8").splitlines() if path.exists() else []


def page_window(desktop) -> dict:
    """The stand-in control's window: a child of the main launcher window."""
    for window in desktop.owned_windows(SPLASH):
        for child in window["children"]:
            if child["class"] == "StandinBrowserWindow" and child["visible"]:
                return child
    raise AssertionError(f"no page window: {desktop.windows()}")


def start_with_page(desktop, channel, script, *args, entry_url=None):
    configure(channel, make_package(), entry_url=entry_url)
    install_current_client(desktop)
    channel.set_entry_page(page(script))
    proc = desktop.start(LAUNCHER, *args)
    desktop.wait_window(SPLASH)
    assert wait_for(lambda: any("loaded" in line for line in standin_log(desktop)), 30), standin_log(desktop)
    return proc


def close(desktop, proc):
    desktop.click_id(SPLASH, CLOSE_BUTTON)
    assert desktop.wait_exit(proc) == 0


@pytest.mark.parametrize("entry_path, args, query", [
    ("/entry/index.html", ["--winid=0", "--token=a%b"], "winid=0&token=a%b"),
    ("/entry/index.html?lang=zh", ["--token=t1", "--source=FC"], "lang=zh&token=t1&source=FC"),
    ("/entry/index.html?lang=zh", [], "lang=zh"),
])
def test_entry_page_address_carries_the_platform_query(desktop, channel, entry_path, args, query):
    proc = start_with_page(desktop, channel, "", *args, entry_url=channel.url(entry_path))
    close(desktop, proc)
    [request] = channel.requests_for(channel.entry_path)
    assert request["query"] == query
    assert "host info: flags 0xc, double-click 0" in standin_log(desktop)


def test_alert_is_the_launchers_box_and_new_windows_go_to_the_shell(desktop, channel):
    proc = start_with_page(desktop, channel,
                           "alert('hello from the page');\n"
                           "window.open('http://127.0.0.1:9/elsewhere?x=1');\n"
                           "report('Opened', 'yes');\n")
    box = wait_for(lambda: desktop.visible_window("提示"), 30)
    assert box and message_box_text(box) == "hello from the page", desktop.windows()
    main_window = next(w for w in desktop.owned_windows(SPLASH) if w["visible"])
    assert box["owner"] == main_window["hwnd"]  # owned by the launcher, not a window of its own
    desktop.screenshot("alert")
    desktop.click("提示", button_texts(box)[0])

    assert wait_for(lambda: "method:Opened,paramters:yes" in log_messages(desktop), 30)
    recorder = desktop.path(r"C:\url_recorder.txt")
    assert wait_for(lambda: recorder.exists() and "http://127.0.0.1:9/elsewhere?x=1" in recorder.read_text(), 30)
    assert any("window.open http://127.0.0.1:9/elsewhere?x=1: cancelled by the host" == line
               for line in standin_log(desktop))
    launcher_windows = [w for w in desktop.windows() if w["visible"] and w["pid"] == main_window["pid"]]
    assert sorted(w["caption"] for w in launcher_windows) == ["", SPLASH]  # nothing new opened
    close(desktop, proc)


def test_refresh_and_new_window_keys_are_blocked_while_typing_reaches_the_page(desktop, channel):
    proc = start_with_page(desktop, channel, "function onkeydown(code) { report('Key', code); }\n")
    left, top, right, bottom = page_window(desktop)["rect"]
    desktop.click_at((left + right) // 2, (top + bottom) // 2)
    desktop.keys(hex(VK_A), hex(VK_F5), f"ctrl+{hex(VK_N)}", hex(VK_B))
    keys = lambda: [m.split(":", 2)[2] for m in log_messages(desktop) if m.startswith("method:Key,")]  # noqa: E731
    assert wait_for(lambda: str(VK_B) in keys(), 30), (keys(), standin_log(desktop))
    typed = keys()
    assert str(VK_A) in typed and str(VK_F5) not in typed and str(VK_N) not in typed, typed
    assert "key 0x74 blocked" in standin_log(desktop) and "key 0x4e blocked" in standin_log(desktop)

    # A right click shows no menu.
    desktop.click_at((left + right) // 2, (top + bottom) // 2, right=True)
    assert wait_for(lambda: "context menu: left to the host, none shown" in standin_log(desktop), 30)
    assert not [w for w in desktop.windows() if w["visible"] and w["class"] == "#32768"]
    close(desktop, proc)
