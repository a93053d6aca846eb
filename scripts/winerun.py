#!/usr/bin/python3
"""Runs Windows programs under Wine for the tests and the demo.

One run of the tests shares one virtual X display (Xvfb) and one template prefix made by
wineboot; every program or scenario gets its own copy of the template, so no test sees
another's registry or files. Wine runs with a Simplified Chinese locale, which gives the
ANSI code page 936 the launcher's players have.

Only the processes started here are ever ended: the Xvfb by its pid, and each prefix's
wineserver with `wineserver -k` on that prefix.

Which Windows variant runs is decided once per run (see `variant()`): the shipped i686 build
under 32-bit Wine where this host executes 32-bit x86 code, otherwise the x86_64 build of the
same sources under 64-bit Wine (WINEARCH=win64). LAUNCHER_WINE_ARCH=win32|win64 forces one.

Command line:
  winerun.py variant          print the variant (win32 or win64, also the build preset's
                              name) on stdout and why it was chosen on stderr
  winerun.py start            start the display and make the template (reused if running)
  winerun.py stop             end every wineserver of this run's prefixes and the display
  winerun.py exec EXE [ARGS]  run EXE in a fresh prefix copy and return its exit code
                              (starts and stops a session of its own when none runs)
The run folder is $LAUNCHER_WINE_RUN, default build/wine-run in the repository. The stand-ins
come from the tools folder of the build tree that runs the tests, $LAUNCHER_WIN_BUILD (ctest
sets it), default build/<variant> in the repository.
"""
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
LOCALE = "zh_CN.UTF-8"
VARIANTS = ("win32", "win64")
# Each variant's loader and server. /usr/bin/wine prefers the 32-bit loader whenever it is
# installed, so the 64-bit one is named directly.
WINE = {"win32": "/usr/lib/wine/wine", "win64": "/usr/lib/wine/wine64"}
WINESERVER = {"win32": "/usr/bin/wineserver", "win64": "/usr/lib/wine/wineserver64"}
WINE_FONTS = Path("/usr/share/wine/fonts")
# A CJK font of Debian's (fonts-wqy-zenhei, installed by scripts/setup.sh) as the prefixes'
# system font: Wine's own system font for code page 936 has no Chinese glyphs.
CJK_FONT = Path("/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc")
WEB_BROWSER_CLSID = "{8856F961-340A-11D0-A96B-00C04FD705A2}"
# Built into <build tree>/tools and put into every prefix (see Session._install_standins).
STANDIN_FILES = ("standin_browser.dll", "url_recorder.exe", "standin_ping.exe")


def host_runs_i386() -> bool:
    return subprocess.run(["bash", str(REPO / "scripts" / "host-runs-i386.sh")]).returncode == 0


def variant() -> tuple[str, str]:
    """(variant, reason): which build runs under which Wine on this host, and why."""
    forced = os.environ.get("LAUNCHER_WINE_ARCH", "")
    if forced:
        if forced not in VARIANTS:
            raise SystemExit(f"LAUNCHER_WINE_ARCH must be win32 or win64, not {forced!r}")
        return forced, f"forced by LAUNCHER_WINE_ARCH={forced}"
    if not host_runs_i386():
        return "win64", "this host cannot execute 32-bit x86 code (Exec format error)"
    if not os.access(WINE["win32"], os.X_OK):
        return "win64", f"32-bit Wine is not installed ({WINE['win32']} missing)"
    return "win32", "this host executes 32-bit x86 code: the shipped i686 build is tested"


def current_variant() -> str:
    return variant()[0]


def pe_variant(exe) -> str:
    """win32 for a PE32 (i386) program, win64 for a PE32+ (x86_64) one."""
    with open(exe, "rb") as f:
        head = f.read(4096)
    offset = int.from_bytes(head[0x3C:0x40], "little")
    machine = int.from_bytes(head[offset + 4:offset + 6], "little")
    return {0x14C: "win32", 0x8664: "win64"}.get(machine, f"machine 0x{machine:x}")


def run_dir() -> Path:
    return Path(os.environ.get("LAUNCHER_WINE_RUN", REPO / "build" / "wine-run")).resolve()


def build_tools(arch: str) -> Path:
    """The tools folder of the build tree whose programs this run tests."""
    return Path(os.environ.get("LAUNCHER_WIN_BUILD", REPO / "build" / arch)).resolve() / "tools"


def display_problem(display: str, xvfb_pid: int) -> str:
    """Why Wine cannot draw on the display, in one line; "" when it can."""
    if xvfb_pid:
        try:
            command = Path(f"/proc/{xvfb_pid}/cmdline").read_bytes()
        except OSError:
            return f"the virtual display {display} is gone (its Xvfb, pid {xvfb_pid}, has ended)"
        if b"Xvfb" not in command:
            return f"the virtual display {display} is gone (pid {xvfb_pid} is no longer its Xvfb)"
    if not display.startswith(":"):
        return ""  # a display over the network: the X library will say what is wrong
    number = display[1:].split(".")[0]
    try:
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as probe:
            probe.settimeout(5)
            probe.connect(f"/tmp/.X11-unix/X{number}")
    except OSError as e:
        return f"the display {display} does not answer ({e.strerror or e})"
    return ""


def base_env(prefix: Path, display: str, arch: str) -> dict:
    env = dict(os.environ)
    env.update({
        "WINEPREFIX": str(prefix),
        "WINEARCH": arch,
        "WINELOADER": WINE[arch],
        "WINESERVER": WINESERVER[arch],
        "WINEDEBUG": env.get("LAUNCHER_WINEDEBUG", "-all"),
        # No Mono or Gecko installer dialogs: neither is available here. No menu builder:
        # shortcuts stay in the prefix instead of becoming menu entries of the Linux desktop.
        # ping.exe is the prefix's stand-in (native), never Wine's own, which would send.
        "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d;ping.exe=n",
        "DISPLAY": display,
        "LC_ALL": LOCALE,
        "LANG": LOCALE,
    })
    return env


def _pid_alive(pid: int) -> bool:
    try:
        os.kill(pid, 0)
        return True
    except OSError:
        return False


def _link_or_copy(src: str, dst: str) -> None:
    """Hard-links the template's files into a prefix copy (a full copy is ~600 MB), but copies
    the registry files: they are the only template files Wine rewrites, and it does so by
    writing a new file and renaming it, so linked files are never changed in place."""
    if src.endswith(".reg"):
        shutil.copy2(src, dst)
    else:
        os.link(src, dst)


class Session:
    """The run's display and template prefix."""

    def __init__(self, root: Path | None = None, display: str | None = None):
        """display: an X display to use as it is (a person watching) instead of a virtual one."""
        self.root = root or run_dir()
        self.given_display = display
        self.state_file = self.root / "session.json"
        self.template = self.root / "template"
        self.prefixes = self.root / "prefixes"
        self.display = ""
        self.xvfb_pid = 0
        self.arch = current_variant()
        self.tools = build_tools(self.arch)
        self.template_tools = self.tools  # where the template's stand-ins came from

    def _save(self) -> None:
        self.state_file.write_text(json.dumps({"display": self.display, "xvfb_pid": self.xvfb_pid,
                                               "arch": self.arch, "tools": str(self.template_tools)}))

    def load(self) -> bool:
        try:
            state = json.loads(self.state_file.read_text())
        except (OSError, ValueError):
            return False
        if state.get("arch") != self.arch:
            return False
        # A session on a given display is taken up only for that display, and a virtual one
        # only when no display is given.
        recorded_given = None if state.get("xvfb_pid") else state.get("display")
        if recorded_given != self.given_display:
            return False
        self.display, self.xvfb_pid = state["display"], state["xvfb_pid"]
        self.template_tools = Path(state.get("tools", self.tools))
        return self.problem() == ""

    def problem(self) -> str:
        """What keeps this session's programs from running, in one line; "" when nothing does."""
        if not (self.template / "system.reg").exists():
            return f"the template prefix {self.template} is missing or incomplete"
        return display_problem(self.display, self.xvfb_pid)

    def start(self) -> None:
        if self.load():
            return
        self.stop()
        self.root.mkdir(parents=True, exist_ok=True)
        if self.given_display:
            self.display, self.xvfb_pid = self.given_display, 0
        else:
            self._start_xvfb()
        # Recorded before the template is made, so a failing wineboot still lets `stop` find
        # and end this display.
        self._save()
        self._make_template()
        self._save()

    def _start_xvfb(self) -> None:
        read_fd, write_fd = os.pipe()
        proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1920x1080x24", "-nolisten", "tcp"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        os.close(write_fd)
        with os.fdopen(read_fd) as r:
            number = r.readline().strip()
        if not number:
            proc.kill()
            raise RuntimeError("Xvfb did not start")
        self.display, self.xvfb_pid = f":{number}", proc.pid

    def _install_standins(self, template: "Prefix") -> None:
        """The outside parties every test prefix has: the stand-in browser control under the
        WebBrowser control's class id (no HTML engine can be installed here), a recorder as
        the shell's web browser, so a URL handed to the shell never reaches a real one, and a
        ping.exe that only records and waits, so nothing is ever sent to a public address."""
        tools = self.tools
        folder = template.drive_c / "standins"
        folder.mkdir(parents=True, exist_ok=True)
        for name in STANDIN_FILES:
            if not (tools / name).exists():
                raise RuntimeError(f"{tools / name} is missing: build the {self.arch} preset first")
            shutil.copy2(tools / name, folder / name)
        for system in ("system32", "syswow64"):
            if (template.drive_c / "windows" / system).is_dir():
                target = template.drive_c / "windows" / system / "ping.exe"
                target.unlink(missing_ok=True)
                shutil.copy2(tools / "standin_ping.exe", target)
        recorder = r'"\"C:\\standins\\url_recorder.exe\" \"%1\""'
        lines = ["REGEDIT4", "",
                 rf"[HKEY_LOCAL_MACHINE\Software\Classes\CLSID\{WEB_BROWSER_CLSID}\InprocServer32]",
                 r'@="C:\\standins\\standin_browser.dll"', '"ThreadingModel"="Apartment"', ""]
        # "open" named as the shell key's default verb: a ShellExecute with no verb reaches it.
        for scheme in ("http", "https"):
            lines += [rf"[HKEY_CLASSES_ROOT\{scheme}\shell]", '@="open"', "",
                      rf"[HKEY_CLASSES_ROOT\{scheme}\shell\open\command]", f"@={recorder}", ""]
        (folder / "standins.reg").write_text("\r\n".join(lines) + "\r\n", encoding="ascii")
        template.run("reg", ["import", r"C:\standins\standins.reg"], timeout=120, check=True,
                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def _make_template(self) -> None:
        shutil.rmtree(self.template, ignore_errors=True)
        template = Prefix(self.template, self.display, self.arch)
        template.run("wineboot", ["-i"], timeout=300, check=True,
                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        template.add_wine_fonts()
        template.use_cjk_system_font()
        template.keep_user_folders_inside()
        self._install_standins(template)
        # There is no window manager on the virtual display: Wine draws captions and frames
        # itself, so screenshots show windows as a player sees them.
        template.run("reg", ["add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/t", "REG_SZ",
                             "/d", "N", "/f"], timeout=120, check=True,
                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        template.wait_idle(timeout=300)

    def new_prefix(self, name: str) -> "Prefix":
        self.prefixes.mkdir(parents=True, exist_ok=True)
        path = Path(tempfile.mkdtemp(prefix=name + "-", dir=self.prefixes))
        path.rmdir()
        shutil.copytree(self.template, path, symlinks=True, copy_function=_link_or_copy)
        prefix = Prefix(path, self.display, self.arch)
        if self.template_tools != self.tools:
            self._refresh_standins(prefix)
        return prefix

    def _refresh_standins(self, prefix: "Prefix") -> None:
        """A session made for another build tree: this tree's stand-ins replace the template's
        (their registration is the same). The files are hard links to the template's, so each
        is unlinked before the copy."""
        targets = [(name, prefix.drive_c / "standins" / name) for name in STANDIN_FILES]
        targets += [("standin_ping.exe", prefix.drive_c / "windows" / system / "ping.exe")
                    for system in ("system32", "syswow64") if (prefix.drive_c / "windows" / system).is_dir()]
        for name, target in targets:
            if not (self.tools / name).exists():
                raise RuntimeError(f"{self.tools / name} is missing: build the {self.arch} preset first")
            target.unlink(missing_ok=True)
            shutil.copy2(self.tools / name, target)

    def stop(self) -> None:
        # The prefixes may be of the other variant (a run left behind by a forced one):
        # each wineserver is ended by the server of the variant its prefix was made for.
        arch = self.arch
        try:
            arch = json.loads(self.state_file.read_text()).get("arch", arch)
        except (OSError, ValueError):
            pass
        if self.prefixes.exists():
            for p in self.prefixes.iterdir():
                Prefix(p, self.display, arch).kill()
        if self.template.exists():
            Prefix(self.template, self.display, arch).kill()
        if self.state_file.exists():
            try:
                pid = json.loads(self.state_file.read_text())["xvfb_pid"]
                if pid and _pid_alive(pid):
                    os.kill(pid, signal.SIGTERM)
            except (OSError, ValueError, KeyError):
                pass
            self.state_file.unlink(missing_ok=True)


class Prefix:
    """One Wine prefix copied from the template."""

    def __init__(self, path: Path, display: str, arch: str):
        self.path = Path(path)
        self.display = display
        self.arch = arch

    @property
    def env(self) -> dict:
        return base_env(self.path, self.display, self.arch)

    @property
    def system32(self) -> Path:
        r"""C:\windows\system32 of this prefix (the native programs' folder)."""
        return self.drive_c / "windows" / "system32"

    @property
    def drive_c(self) -> Path:
        return self.path / "drive_c"

    def host_path(self, windows_path: str) -> Path:
        """The Linux path of a C: path, e.g. C:\\qorn-palmet -> <prefix>/drive_c/qorn-palmet."""
        drive, _, rest = windows_path.partition(":")
        if drive.upper() != "C":
            raise ValueError(f"only drive C: is mapped: {windows_path}")
        return self.drive_c.joinpath(*[p for p in rest.replace("\\", "/").split("/") if p])

    def command(self, exe, args=()) -> list[str]:
        return [WINE[self.arch], str(exe), *map(str, args)]

    @property
    def user(self) -> str:
        """The Windows user the prefix's programs run as."""
        return next(p.name for p in sorted((self.drive_c / "users").iterdir()) if p.name != "Public")

    def keep_user_folders_inside(self) -> None:
        """Wine links the user's Desktop, Documents, ... to the Linux home folder: a shortcut
        the launcher puts on the desktop would land in the home folder of whoever runs the
        tests. Each such link becomes an empty folder of the prefix."""
        for user in (self.drive_c / "users").iterdir():
            for entry in user.iterdir() if user.is_dir() and not user.is_symlink() else ():
                if entry.is_symlink():
                    entry.unlink()
                    entry.mkdir()

    def add_wine_fonts(self) -> None:
        """64-bit Wine does not find its own fonts (Debian's fonts-wine) and leaves the prefix's
        Fonts folder empty, so caption buttons would draw as letters: copy in what is missing."""
        fonts = self.drive_c / "windows" / "Fonts"
        fonts.mkdir(parents=True, exist_ok=True)
        for font in WINE_FONTS.glob("*"):
            if not (fonts / font.name).exists():
                shutil.copy2(font, fonts / font.name)

    def use_cjk_system_font(self) -> None:
        """The system font (what a context draws with before a font is selected, as the
        launcher's text controls do) comes from the file the registry names; Wine names its own
        bitmap font, which draws Chinese as boxes. Chinese Windows' has the glyphs, so the
        prefix's is a CJK font. "MS Shell Dlg" already falls back to a font with them."""
        if not CJK_FONT.exists():
            raise RuntimeError(f"{CJK_FONT} is missing: run scripts/setup.sh (fonts-wqy-zenhei)")
        fonts = self.drive_c / "windows" / "Fonts"
        fonts.mkdir(parents=True, exist_ok=True)
        shutil.copy2(CJK_FONT, fonts / CJK_FONT.name)
        self.run("reg", ["add", r"HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts",
                         "/v", "FONTS.FON", "/t", "REG_SZ", "/d", CJK_FONT.name, "/f"],
                 timeout=120, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def popen(self, exe, args=(), **kw) -> subprocess.Popen:
        return subprocess.Popen(self.command(exe, args), env=self.env, **kw)

    def run(self, exe, args=(), timeout=120, **kw) -> subprocess.CompletedProcess:
        return subprocess.run(self.command(exe, args), env=self.env, timeout=timeout, **kw)

    def run_capture(self, exe, args=(), timeout=120) -> subprocess.CompletedProcess:
        """Runs a program and returns its output. The output goes through files, not pipes:
        the first program of a prefix starts Wine's background services, which inherit its
        handles and would hold a pipe open long after the program itself has ended."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            result = self.run(exe, args, timeout=timeout, stdout=out, stderr=err)
            out.seek(0)
            err.seek(0)
            result.stdout, result.stderr = out.read(), err.read()
            return result

    def wait_idle(self, timeout=60) -> None:
        """Waits until every program of the prefix has ended."""
        subprocess.run([WINESERVER[self.arch], "-w"], env=self.env, timeout=timeout, check=False)

    def kill(self) -> None:
        """Ends this prefix's wineserver and with it every program it runs."""
        if not os.access(WINESERVER[self.arch], os.X_OK):
            return
        subprocess.run([WINESERVER[self.arch], "-k"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)

    def remove(self) -> None:
        # The server must be gone before its folder: Wine finds a prefix's server by the
        # folder's device and inode, and a new folder that gets this inode would otherwise
        # reach a server that is ending.
        self.kill()
        self.wait_idle(timeout=60)
        shutil.rmtree(self.path, ignore_errors=True)


def start_or_problem(session: Session) -> str:
    """Starts the session; "" when it can run programs, else why not in one line (and the
    half-made session is stopped)."""
    try:
        session.start()
        problem = session.problem()
    except (OSError, RuntimeError, subprocess.SubprocessError) as e:
        problem = f"the Wine session could not be made: {e}"
    if problem:
        session.stop()
    return problem


def exec_in_fresh_prefix(exe: str, args: list[str]) -> int:
    session = Session()
    built_for = pe_variant(exe)
    if built_for != session.arch:
        print(f"winerun: {exe} is a {built_for} program but this run tests {session.arch}; "
              f"build the {session.arch} preset or set LAUNCHER_WINE_ARCH", file=sys.stderr)
        return 2
    owned = not session.load()
    if owned:
        problem = start_or_problem(session)
        if problem:
            print(f"winerun: cannot run {Path(exe).name}: {problem}", file=sys.stderr)
            return 2
    prefix = session.new_prefix(Path(exe).stem)
    try:
        # No timeout here: ctest applies its own to the whole command.
        return prefix.run(exe, args, timeout=None).returncode
    finally:
        prefix.remove()
        if owned:
            session.stop()


def main(argv: list[str]) -> int:
    if len(argv) >= 2 and argv[1] == "variant":
        name, reason = variant()
        print(name)
        print(f"{name}: {reason}", file=sys.stderr)
        return 0
    if len(argv) >= 2 and argv[1] == "start":
        problem = start_or_problem(Session())
        if problem:
            print(f"winerun: {problem}", file=sys.stderr)
            return 1
        return 0
    if len(argv) >= 2 and argv[1] == "stop":
        Session().stop()
        return 0
    if len(argv) >= 3 and argv[1] == "exec":
        return exec_in_fresh_prefix(argv[2], argv[3:])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
