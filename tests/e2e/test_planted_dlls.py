"""The launcher runs elevated from a folder the player can write to: DLLs planted beside it under
the names of system DLLs are never loaded, through a start with its reports and a crash that
writes a dump."""
from conftest import ACCESS_VIOLATION_EXIT, INSTALL_DIR, LAUNCHER, PLANTED_DLL, place_program, wait_for

SPLASH = "Vantorra"
DOWNLOADS = r"C:\users\Public\Downloads\qorn"
# The system DLLs the launcher and the libraries it links load by name. Not version.dll: Wine's
# own user32 imports it and so takes it from the program's folder while the process is set up,
# before any code of the program runs (on Windows user32 is a known DLL whose imports come from
# System32).
PLANTED = ["dbghelp.dll", "iphlpapi.dll", "wininet.dll", "urlmon.dll", "crypt32.dll", "bcrypt.dll", "gdiplus.dll",
           "comctl32.dll"]


def test_dlls_beside_the_launcher_are_never_loaded(desktop, channel):
    launcher = place_program(desktop, LAUNCHER, rf"{DOWNLOADS}\Vantorra.exe")
    for name in PLANTED:
        place_program(desktop, PLANTED_DLL, rf"{DOWNLOADS}\{name}")
    crash_now = desktop.path(r"C:\crash-now")

    # Wine would put its own builtin in place of any DLL of these names wherever it was found;
    # a native DLL must come first, as on Windows, for a planted one to be loadable at all.
    native_first = ",".join(name.removesuffix(".dll") for name in PLANTED) + "=n,b"
    proc = desktop.start(rf"{DOWNLOADS}\Vantorra.exe", env={
        "LAUNCHER_E2E_CRASH_FILE": r"C:\crash-now",
        "WINEDLLOVERRIDES": f"{desktop.prefix.env['WINEDLLOVERRIDES']};{native_first}"})
    desktop.wait_window(SPLASH)
    reports = channel.wait_for_reports(2, timeout=30)
    assert len(reports) == 2, reports
    crash_now.touch()
    assert desktop.wait_exit(proc) == ACCESS_VIOLATION_EXIT

    dumps = wait_for(lambda: sorted(desktop.path(INSTALL_DIR).glob("Vantorra_*.dmp")))
    assert dumps, "the crash left no dump"
    assert dumps[0].read_bytes()[:4] == b"MDMP"
    loaded = sorted(p.name for p in launcher.parent.glob("*.loaded"))
    assert loaded == [], f"planted DLLs were loaded: {loaded}"
