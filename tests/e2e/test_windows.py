"""The launcher's two windows as the player sees them: the splash picture centred on the
screen, the main launcher window exactly on top of it with its buttons and the page's place."""
from conftest import LAUNCHER

SPLASH = "Vantorra"
CLOSE_BUTTON, MINIMISE_BUTTON, BROWSER = 101, 102, 1005
SCREEN = (1920, 1080)


def offset(rect, left, top, width, height):
    return [rect[0] + left, rect[1] + top, rect[0] + left + width, rect[1] + top + height]


def test_main_window_lies_on_the_centred_splash_picture(desktop):
    proc = desktop.start(LAUNCHER)
    desktop.wait_window(SPLASH)
    desktop.screenshot("windows")
    splash = desktop.visible_window(SPLASH)
    owned = desktop.owned_windows(SPLASH)
    assert len(owned) == 1 and owned[0]["visible"], owned
    main = owned[0]

    left, top = (SCREEN[0] - 1600) // 2, (SCREEN[1] - 896) // 2
    assert splash["rect"] == [left, top, left + 1600, top + 896]
    assert main["rect"] == splash["rect"]
    controls = {c["id"]: c for c in main["children"]}
    assert controls[BROWSER]["rect"] == offset(main["rect"], 800, 342, 590, 480)
    assert controls[MINIMISE_BUTTON]["rect"] == offset(main["rect"], 1330, 267, 70, 70)
    assert controls[CLOSE_BUTTON]["rect"] == offset(main["rect"], 1400, 267, 70, 70)
    assert controls[MINIMISE_BUTTON]["class"] == controls[CLOSE_BUTTON]["class"] == "Button"

    desktop.click_id(SPLASH, CLOSE_BUTTON)
    assert desktop.wait_exit(proc) == 0
