"""A Windows desktop under Wine as a player sees it: programs started in one prefix, their
windows listed and driven through the uidriver helper, and screenshots of the display."""
import json
import subprocess
from pathlib import Path

import winerun


class Desktop:
    """One scenario's Windows machine: a prefix, its programs and its windows."""

    def __init__(self, prefix: winerun.Prefix, name: str, uidriver: Path, screenshots: Path):
        self.prefix = prefix
        self.name = name
        self.uidriver = uidriver
        self.screenshots = screenshots
        self.started: list[subprocess.Popen] = []

    def path(self, windows_path: str) -> Path:
        return self.prefix.host_path(windows_path)

    def start(self, exe, *args, env: dict | None = None, cwd: str | None = None) -> subprocess.Popen:
        """Starts a program of the prefix; env adds variables (Wine hands them to the program),
        cwd is its current directory as a Windows path of the prefix."""
        proc = subprocess.Popen(self.prefix.command(exe, args), env={**self.prefix.env, **(env or {})},
                                cwd=self.path(cwd) if cwd else None,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.started.append(proc)
        return proc

    def ui(self, *args, timeout=60) -> subprocess.CompletedProcess:
        return self.prefix.run_capture(self.uidriver, args, timeout=timeout)

    def windows(self) -> list[dict]:
        out = self.ui("list").stdout.decode("utf-8")
        return [json.loads(line) for line in out.splitlines() if line.strip()]

    def visible_window(self, caption: str) -> dict | None:
        return next((w for w in self.windows() if w["visible"] and w["caption"] == caption), None)

    def wait_window(self, caption: str, timeout_s: float = 30) -> dict:
        result = self.ui("wait", caption, str(int(timeout_s * 1000)), timeout=timeout_s + 30)
        assert result.returncode == 0, f"no window {caption!r} within {timeout_s}s; windows: {self.windows()}"
        return self.visible_window(caption)

    def wait_window_gone(self, caption: str, timeout_s: float = 30) -> None:
        result = self.ui("wait", caption, "gone", str(int(timeout_s * 1000)), timeout=timeout_s + 30)
        assert result.returncode == 0, f"window {caption!r} still there after {timeout_s}s"

    def click(self, caption: str, button: str) -> None:
        assert self.ui("click", caption, button).returncode == 0, f"no button {button!r} in {caption!r}"

    def click_id(self, caption: str, control_id: int) -> None:
        """Presses a control by id in the captioned window or a window it owns (picture buttons)."""
        assert self.ui("click-id", caption, str(control_id)).returncode == 0, f"no control {control_id} by {caption!r}"

    def owned_windows(self, caption: str) -> list[dict]:
        """The top-level windows that the visible window with this caption owns."""
        windows = self.windows()
        owner = next((w for w in windows if w["visible"] and w["caption"] == caption), None)
        return [w for w in windows if owner and w["owner"] == owner["hwnd"]]

    def press_key(self, caption: str, virtual_key: int) -> None:
        assert self.ui("key", caption, hex(virtual_key)).returncode == 0, f"no window {caption!r} for the key"

    def click_at(self, x: int, y: int, right: bool = False) -> None:
        """A real mouse click at a screen point (the system's input, not a posted message)."""
        assert self.ui("click-at", str(x), str(y), *(["right"] if right else [])).returncode == 0

    def wheel_at(self, x: int, y: int, ctrl: bool = False) -> None:
        """One real notch of the mouse wheel at a screen point, with Ctrl held when asked."""
        assert self.ui("wheel-at", str(x), str(y), *(["ctrl"] if ctrl else [])).returncode == 0

    def keys(self, *strokes: str) -> None:
        """Real key strokes to the focused window, such as "0x41" or "ctrl+0x4e"."""
        assert self.ui("keys", *strokes).returncode == 0

    def close(self, caption: str) -> None:
        assert self.ui("close", caption).returncode == 0, f"no window {caption!r} to close"

    def screenshot(self, label: str) -> Path:
        self.screenshots.mkdir(parents=True, exist_ok=True)
        target = self.screenshots / f"{self.name}-{label}.png"
        subprocess.run(["import", "-display", self.prefix.display, "-window", "root", str(target)],
                       check=False, timeout=60, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return target

    @staticmethod
    def wait_exit(proc: subprocess.Popen, timeout_s: float = 60) -> int:
        return proc.wait(timeout=timeout_s)


def message_box_text(window: dict) -> str:
    """The message text of a message box: its Static children's texts."""
    return "".join(c["text"] for c in window["children"] if c["class"] == "Static" and c["text"])


def shown_texts(windows: list[dict]) -> str:
    """What a player reads in these windows: the texts of their visible Static controls."""
    return "".join(c["text"] for w in windows if w["visible"]
                   for c in w["children"] if c["class"] == "Static" and c["visible"])


def button_texts(window: dict) -> list[str]:
    return [c["text"] for c in window["children"] if c["class"] == "Button"]
