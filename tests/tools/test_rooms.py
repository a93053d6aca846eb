"""The rooms of the Windows code and the order they stand in: each room may include only
itself, the rooms below it and the portable core, so the application at the top is where the
pieces are put together and nothing below reaches back up to it. The main launcher window's
members are defined in its own file only."""
import re
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
# Bottom to top.
ROOMS = ["core", "fw", "http", "diag", "platform", "update", "browser", "launch", "ui", "app"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/', re.M)
SOURCES = ("*.cpp", "*.h")


def room_files(room):
    for pattern in SOURCES:
        yield from (REPO / room).rglob(pattern)


def test_no_room_includes_a_room_above_it():
    rank = {room: i for i, room in enumerate(ROOMS)}
    upward = []
    for room in ROOMS:
        for path in room_files(room):
            for target in INCLUDE.findall(path.read_text(errors="replace")):
                if rank.get(target, -1) > rank[room]:
                    upward.append(f"{path.relative_to(REPO)} includes {target}/")
    assert not upward, "includes that run up: " + "; ".join(upward)


def test_every_room_of_the_windows_code_has_its_place_in_the_order():
    # A new folder of Windows code must be placed in the order, or its includes go unchecked.
    unplaced = {p.parent.relative_to(REPO).parts[0] for pattern in SOURCES for p in REPO.glob("*/" + pattern)}
    unplaced -= set(ROOMS) | {"tests", "tools", "bench", "fuzz", "res"}
    assert not unplaced, f"folders outside the order: {sorted(unplaced)}"


def test_the_main_launcher_window_is_defined_in_its_own_file_only():
    definition = re.compile(r"^[^\s/#].*\bCWebCDlg::~?\w+\s*\(", re.M)
    home = REPO / "ui" / "web_c_dlg.cpp"
    elsewhere = [str(p.relative_to(REPO)) for room in ROOMS if room != "core" for p in room_files(room)
                 if p != home and definition.search(p.read_text(errors="replace"))]
    assert not elsewhere, f"CWebCDlg members defined outside {home.relative_to(REPO)}: {elsewhere}"
