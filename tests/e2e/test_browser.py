"""The entry page in the launcher's browser, through the stand-in browser control: the page's
address, its message boxes and their keys, the windows it opens, the keys, wheel and fields it
gets, its frames, its script errors, its context menu, its unload and its external object's
end."""
import pytest
from conftest import LAUNCHER, wait_for
from desktop import button_texts, message_box_text
from test_install import configure, make_package
from test_login_launch import install_current_client, log_messages, log_text, page

SPLASH = "Vantorra"
CLOSE_BUTTON = 101
BROWSER_PLACE = 1005
VK_TAB, VK_RETURN, VK_ESCAPE, VK_F5 = 0x09, 0x0D, 0x1B, 0x74
VK_A, VK_B, VK_N, VK_O, VK_P, VK_V = 0x41, 0x42, 0x4E, 0x4F, 0x50, 0x56


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


def start_with_page(desktop, channel, script, *args, entry_url=None, body="", until="DocumentComplete of the page"):
    """The launcher with the page, once the stand-in's log has a line with `until` (by default
    the page's completion; a page whose script shows a box completes only after it)."""
    configure(channel, make_package(), entry_url=entry_url)
    install_current_client(desktop)
    channel.set_entry_page(page(script, body))
    proc = desktop.start(LAUNCHER, *args)
    desktop.wait_window(SPLASH)
    assert wait_for(lambda: any(until in line for line in standin_log(desktop)), 30), standin_log(desktop)
    return proc


def page_children(desktop, cls) -> list[dict]:
    """The page's controls of a window class (its text fields are "Edit"), in page order."""
    for window in desktop.owned_windows(SPLASH):
        children = [c for c in window["children"] if c["class"] == cls and c["visible"]]
        if children:
            return sorted(children, key=lambda c: c["id"])
    return []


def click_on(desktop, window: dict) -> None:
    left, top, right, bottom = window["rect"]
    desktop.click_at((left + right) // 2, (top + bottom) // 2)


def page_reports(desktop, name) -> list[str]:
    return [m.split(":", 2)[2] for m in log_messages(desktop) if m.startswith(f"method:{name},")]


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
    log = standin_log(desktop)
    assert "host info: flags 0xc, double-click 0" in log
    assert "frame window: the one the window context names" in log, log
    assert "event sink: counts its own references" in log, log


def test_alert_is_the_launchers_box_and_new_windows_go_to_the_shell(desktop, channel):
    dropped = ["file:///C:/windows/system32/calc.exe", "search-ms:query=x", "ms-msdt:/id PCWDiagnostic"]
    proc = start_with_page(desktop, channel,
                           "alert('hello from the page');\n"
                           + "".join(f"window.open('{url}');\n" for url in dropped)
                           + "window.open('http://127.0.0.1:9/elsewhere?x=1');\n"
                           "report('Opened', 'yes');\n", until="script(s)")
    box = wait_for(lambda: desktop.visible_window("提示"), 30)
    assert box and message_box_text(box) == "hello from the page", desktop.windows()
    main_window = next(w for w in desktop.owned_windows(SPLASH) if w["visible"])
    assert box["owner"] == main_window["hwnd"]  # owned by the launcher, not a window of its own
    desktop.screenshot("alert")
    desktop.click("提示", button_texts(box)[0])

    assert wait_for(lambda: "method:Opened,paramters:yes" in log_messages(desktop), 30)
    recorder = desktop.path(r"C:\url_recorder.txt")
    assert wait_for(lambda: recorder.exists() and "http://127.0.0.1:9/elsewhere?x=1" in recorder.read_text(), 30)
    # Opened by the desktop's shell, not by the elevated launcher.
    [opened] = recorder.read_text(encoding="utf-8").splitlines()
    assert opened.split("\t")[1].lower() == "explorer.exe", opened
    assert "opened by the desktop shell: http://127.0.0.1:9/elsewhere?x=1" in log_messages(desktop)
    # Only http and https addresses leave the launcher; the others are logged and dropped.
    for url in dropped:
        assert f"not an http or https address, dropped: {url}" in log_messages(desktop), log_text(desktop)
    assert any("window.open http://127.0.0.1:9/elsewhere?x=1: cancelled by the host" == line
               for line in standin_log(desktop))
    launcher_windows = [w for w in desktop.windows() if w["visible"] and w["pid"] == main_window["pid"]]
    assert sorted(w["caption"] for w in launcher_windows) == ["", SPLASH]  # nothing new opened
    close(desktop, proc)


def test_typing_tab_and_paste_reach_the_fields_while_the_blocked_keys_reach_nothing(desktop, channel):
    proc = start_with_page(
        desktop, channel,
        "function onkeydown(code) { report('Key', code + ' ' + document.getElementById('user').value + '/'"
        " + document.getElementById('pass').value); }\n",
        body='<input id="user" type="text"><input id="pass" type="password">')
    user, password = page_children(desktop, "Edit")
    desktop.ui("clip-set", "pasted")
    click_on(desktop, user)
    desktop.keys(hex(VK_A), hex(VK_TAB), hex(VK_B), f"ctrl+{hex(VK_V)}", hex(VK_F5), f"ctrl+{hex(VK_N)}",
                 f"ctrl+{hex(VK_O)}", f"ctrl+{hex(VK_P)}", hex(VK_RETURN))
    keys = lambda: page_reports(desktop, "Key")  # noqa: E731
    assert wait_for(lambda: any(k.startswith(f"{VK_RETURN} ") for k in keys()), 30), (keys(), standin_log(desktop))
    codes = [int(k.split(" ")[0]) for k in keys()]
    # Typing reaches the page, Tab moved to the second field, the paste came through the OLE
    # clipboard; the blocked keys reached neither the page nor the browser.
    assert [k for k in keys() if k.startswith(f"{VK_RETURN} ")] == [f"{VK_RETURN} a/bpasted"], keys()
    assert VK_A in codes and VK_B in codes and VK_TAB not in codes, codes
    assert not {VK_F5, VK_N, VK_O, VK_P} & set(codes), codes
    log = standin_log(desktop)
    assert "key 0x9: focus to field pass" in log
    assert 'paste: "pasted" from the OLE clipboard' in log, log
    for key in (VK_F5, VK_N, VK_O, VK_P):
        assert f"key {hex(key)} blocked" in log, "\n".join(log)
    assert not [line for line in log if "the browser refreshes" in line or "the browser opens" in line
                or "the browser prints" in line or "the browser asks" in line], log

    # A right click shows no menu.
    click_on(desktop, page_window(desktop))
    left, top, right, bottom = page_window(desktop)["rect"]
    desktop.click_at((left + right) // 2, (top + bottom) // 2, right=True)
    assert wait_for(lambda: "context menu: left to the host, none shown" in standin_log(desktop), 30)
    assert not [w for w in desktop.windows() if w["visible"] and w["class"] == "#32768"]
    close(desktop, proc)


def wait_box(desktop, caption, text):
    def box():
        return next((w for w in desktop.windows() if w["visible"] and w["caption"] == caption
                     and message_box_text(w) == text), None)
    found = wait_for(box, 60)
    assert found, desktop.windows()
    return found, box


def press_on_box(desktop, box: dict, key: int) -> None:
    """A real key press on a message box, once it has the keyboard (a click on its text)."""
    text = next(c for c in box["children"] if c["class"] == "Static" and c["text"])
    click_on(desktop, text)
    desktop.keys(hex(key))


def test_message_boxes_keep_their_keys_and_a_question_gets_ok(desktop, channel):
    proc = start_with_page(desktop, channel,
                           "alert('first box');\n"
                           "report('Confirm', confirm('second box?'));\n"
                           "window.external.AppLogin('false|x');\n"
                           "report('After', 'rejection');\n", until="script(s)")
    # Enter on the page's alert, Esc on the launcher's own box: each closes its box, as keys
    # of a message box do, though the boxes belong to the launcher's windows.
    box, still_there = wait_box(desktop, "提示", "first box")
    press_on_box(desktop, box, VK_RETURN)
    assert wait_for(lambda: still_there() is None, 20), "Enter did not close the alert"
    box, still_there = wait_box(desktop, "提示", "second box?")
    press_on_box(desktop, box, VK_RETURN)
    assert wait_for(lambda: page_reports(desktop, "Confirm"), 30), standin_log(desktop)
    assert page_reports(desktop, "Confirm") == ["true"]  # IDOK, the answer of its one button
    box, still_there = wait_box(desktop, SPLASH, "登录验证未通过")
    press_on_box(desktop, box, VK_ESCAPE)
    assert wait_for(lambda: page_reports(desktop, "After"), 30), "Esc did not close the rejection box"
    assert desktop.visible_window(SPLASH) is not None
    close(desktop, proc)


def test_a_framed_page_shows_its_place_at_the_top_level_completion(desktop, channel):
    configure(channel, make_package())
    install_current_client(desktop)
    channel.add_package("/entry/frame.html", b"<html><head><title>Frame</title></head><body>inner</body></html>")
    late = b"<html><head><title>Late frame</title></head><body>" + b"<p>later</p>" * 12 + b"</body></html>"
    channel.add_package("/entry/late.html", late)
    channel.set_entry_page(page("report('Top', 'ran');\n",
                                body='<iframe src="frame.html"></iframe><iframe src="late.html" loading="lazy">'
                                     '</iframe>'))
    # The configuration arrives slowly, so the page's place can be hidden before the page loads;
    # the lazily loaded frame arrives slowly, so it can be hidden again before that frame completes.
    channel.set_fault(channel.config_path, trickle_bytes=24, trickle_interval=0.4, times=1)
    channel.set_fault("/entry/late.html", trickle_bytes=8, trickle_interval=0.25, times=1)
    proc = desktop.start(LAUNCHER)
    desktop.wait_window(SPLASH)
    assert desktop.ui("hide-id", SPLASH, str(BROWSER_PLACE)).returncode == 0
    assert wait_for(lambda: "DocumentComplete of the page: place shown" in standin_log(desktop), 60), \
        standin_log(desktop)
    log = standin_log(desktop)
    assert "DocumentComplete of the frame: place hidden" in log, "\n".join(log)
    frame_done = log.index("DocumentComplete of the frame: place hidden")
    assert frame_done < log.index("DocumentComplete of the page: place shown"), log
    assert any(line.startswith("frame ") and line.endswith("/entry/frame.html loaded") for line in log), log
    assert any(c["id"] == BROWSER_PLACE and c["visible"] for w in desktop.owned_windows(SPLASH)
               for c in w["children"])

    # A frame that completes after the page (loaded lazily, inserted or navigated later) is
    # still a frame: the place the player hid stays hidden.
    assert desktop.ui("hide-id", SPLASH, str(BROWSER_PLACE)).returncode == 0
    assert wait_for(lambda: [line for line in standin_log(desktop) if line.startswith("DocumentComplete of the late")],
                    60), standin_log(desktop)
    log = standin_log(desktop)
    assert "DocumentComplete of the late frame: place hidden" in log, log
    assert log.index("DocumentComplete of the page: place shown") < log.index(
        "DocumentComplete of the late frame: place hidden"), log
    assert any(line.startswith("late frame ") and line.endswith("/entry/late.html loaded") for line in log), log
    close(desktop, proc)


def test_a_script_error_is_logged_once_and_the_page_goes_on(desktop, channel):
    proc = start_with_page(desktop, channel, "report('Before', 1);\nnoSuchFunction();\n")
    assert wait_for(lambda: "script error: answered by the host, scripts go on" in standin_log(desktop), 30), \
        standin_log(desktop)
    errors = [line for line in log_text(desktop).splitlines() if "[ERROR]" in line and "script error:" in line]
    assert len(errors) == 1, errors
    assert "line 3" in errors[0] and channel.url(channel.entry_path) in errors[0], errors
    assert "script error: shown by the browser" not in standin_log(desktop)
    assert not [w for w in desktop.windows() if w["visible"] and w["caption"] == "Script Error"]
    close(desktop, proc)


def test_closing_takes_the_control_down_while_the_window_exists(desktop, channel):
    proc = start_with_page(desktop, channel, "function onunload() { report('Unload', 'bye'); }\n")
    click_on(desktop, page_window(desktop))  # UI active: the page has the keyboard
    assert wait_for(lambda: "UI activated: the active object handed to the host" in standin_log(desktop), 30)
    close(desktop, proc)
    log = standin_log(desktop)
    # Out of its user interface, then out of its place, then closed.
    assert log.index("UIDeactivate by the host") < log.index("InPlaceDeactivate by the host") < log.index(
        "closed: the host's window still there, the page's onunload ran"), log
    assert not [line for line in log if "no UIDeactivate came first" in line], log
    # The page unloaded with its external object still reaching the launcher's window.
    assert page_reports(desktop, "Unload") == ["bye"]
    # The control let go of the page's external object only at its final release, after the
    # launcher had let go of its own: the object lived until then.
    assert [line for line in log_messages(desktop) if line.startswith("window.external still referenced")], \
        (log[-12:], log_text(desktop)[-1500:])
    assert log.index("closed: the host's window still there, the page's onunload ran") < log.index(
        "the apartment ends: the closed control's last reference goes") < log.index(
        "final release: the page's external object released, 0 reference(s) left"), log


def test_the_navigation_runs_on_the_window_thread_outside_any_sent_message(desktop, channel):
    # Whatever the control makes of an address it cannot load (its answer there is its own),
    # the launcher asks for it from its window thread's own message loop: never inside a
    # message the update thread sent, never from another thread.
    configure(channel, make_package(), entry_url="no-scheme-address")
    install_current_client(desktop)
    proc = desktop.start(LAUNCHER)
    desktop.wait_window(SPLASH)
    assert wait_for(lambda: "Navigate no-scheme-address (1 argument(s))" in standin_log(desktop), 60), \
        standin_log(desktop)
    assert "[INFO][CWebCDlg::InitWebBrower" in log_text(desktop) and "no-scheme-address" in log_text(desktop)
    assert not [line for line in standin_log(desktop) if "sent from another thread" in line
                or "called from another thread" in line], standin_log(desktop)
    close(desktop, proc)


def test_ctrl_with_the_wheel_never_zooms_the_page(desktop, channel):
    proc = start_with_page(desktop, channel, "")
    window = page_window(desktop)
    click_on(desktop, window)  # the page has the focus, so the wheel turns there
    left, top, right, bottom = window["rect"]
    centre = ((left + right) // 2, (top + bottom) // 2)
    scrolled = lambda: [line for line in standin_log(desktop) if line == "wheel: the page scrolls"]  # noqa: E731
    desktop.wheel_at(*centre)
    assert wait_for(lambda: len(scrolled()) == 1, 30), standin_log(desktop)
    # With Ctrl the turn never reaches the page; a plain one after it still does.
    desktop.wheel_at(*centre, ctrl=True)
    desktop.wheel_at(*centre)
    assert wait_for(lambda: len(scrolled()) == 2, 30), standin_log(desktop)
    assert not [line for line in standin_log(desktop) if "zooms" in line], standin_log(desktop)
    close(desktop, proc)
