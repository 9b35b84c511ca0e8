"""Drives the real file manager under Wine in tmux, and our console host, on
the same directories: start, type, confirm, read the marks back."""

import os
import shlex
import shutil
import subprocess
import time
import zipfile

COLUMNS, LINES = 120, 40
KEY_BAR = LINES - 1
PROMPT = LINES - 2
# The 70 by 20 dialog centred on the screen; its frame starts 3 columns and
# one row inside.
DIALOG_TOP, DIALOG_LEFT = (LINES - 20) // 2 + 1, (COLUMNS - 70) // 2 + 3
DEADLINE = 20.0  # generous: a loaded machine answers in far less


class Timeout(Exception):
    pass


def win_path(path):
    return "Z:" + str(path).replace("/", "\\")


class Tmux:
    """One pane of a private tmux server."""

    def __init__(self, socket, session):
        self.base = ["tmux", "-u", "-L", socket, "-f", "/dev/null"]
        self.session = session

    def run(self, *args, check=True):
        return subprocess.run(self.base + list(args), check=check, capture_output=True,
                              text=True, env={k: v for k, v in os.environ.items()
                                              if not k.startswith("TMUX")})

    def start(self, command):
        self.run("new-session", "-d", "-s", self.session, "-x", str(COLUMNS), "-y", str(LINES),
                 command)

    def alive(self):
        return self.run("has-session", "-t", self.session, check=False).returncode == 0

    def keys(self, *keys):
        if keys:
            self.run("send-keys", "-t", self.session, *keys)

    def type(self, text):
        self.run("send-keys", "-t", self.session, "-l", text)

    def send(self, steps):
        """Steps are key names, or ("text", literal)."""
        for step in steps:
            if isinstance(step, tuple):
                self.type(step[1])
            else:
                self.keys(step)

    def screen(self):
        lines = self.run("capture-pane", "-p", "-t", self.session).stdout.split("\n")[:LINES]
        return [line.ljust(COLUMNS) for line in lines] + [" " * COLUMNS] * (LINES - len(lines))

    def wait(self, ready, what, deadline=DEADLINE):
        end = time.monotonic() + deadline
        while True:
            lines = self.screen()
            if ready(lines):
                return lines
            if time.monotonic() > end:
                raise Timeout(f"the screen never showed {what}:\n" + "\n".join(lines))
            time.sleep(0.02)

    def wait_gone(self, what, deadline=DEADLINE):
        end = time.monotonic() + deadline
        while self.alive():
            if time.monotonic() > end:
                raise Timeout(f"{what} did not end:\n" + "\n".join(self.screen()))
            time.sleep(0.02)

    def settle(self, lines):
        """The screen once it has stopped changing: a frame drawn in parts is read whole."""
        while True:
            time.sleep(0.05)
            again = self.screen()
            if again == lines:
                return lines
            lines = again


def frame_lines(lines):
    """The dialog's double frame, from its top left corner to its bottom right."""
    top, left = DIALOG_TOP, DIALOG_LEFT
    return [line[left:left + 64] for line in lines[top:top + 18]]


def dialog_shown(lines):
    return lines[DIALOG_TOP][DIALOG_LEFT] == "╔" and lines[DIALOG_TOP + 17][DIALOG_LEFT] == "╚"


def dialog_alone(lines):
    """The dialog with no box, help window or message over it."""
    inside = "".join(frame_lines(lines)[1:-1])
    return dialog_shown(lines) and "╔" not in inside and "╚" not in inside


def panels_clear(lines):
    """Both panels whole: no dialog, menu or message box over them."""
    return all(line[59:61] == "║║" for line in lines[1:PROMPT - 4])


class Far:
    """The real file manager with marlit.dll, started in a tmux pane."""

    def __init__(self, box, tmux, env, language="English"):
        self.tmux, self.env = tmux, env
        host = box / "host"
        (host / "Far.exe.ini").write_bytes(
            "[General]\r\nUseSystemProfiles=0\r\nUserProfileDir=%FARHOME%\\Profile\r\n"
            f"UserLocalProfileDir=%FARHOME%\\Profile\r\nDefaultLanguage={language}\r\n".encode())
        self.marked_file = box / "marked.txt"
        (host / "FarMenu.ini").write_bytes(
            f"s: Save marked names\r\n   copy /y !@U! {win_path(self.marked_file)}\r\n".encode())
        start = box / "start"
        start.mkdir(exist_ok=True)
        self.prompt = win_path(start) + ">"
        assignments = " ".join(shlex.quote(f"{k}={v}") for k, v in env.items())
        # Wine's own warnings go to standard error; on the screen they would
        # scroll it under the panels.
        tmux.start(f"cd '{host}' && exec env {assignments} wine Far.exe "
                   f"'{win_path(start)}' '{win_path(start)}' 2>/dev/null")
        tmux.wait(lambda s: s[KEY_BAR].startswith("1") and s[PROMPT].startswith(
            win_path(start) + ">"), "the panels")

    def cd(self, folder, wait=True):
        self.tmux.type(f"cd {win_path(folder)}")
        self.tmux.keys("Enter")
        self.prompt = win_path(folder) + ">"
        if wait:
            return self.tmux.settle(self.tmux.wait(lambda s: s[PROMPT].startswith(self.prompt),
                                                   f"the prompt {self.prompt}"))

    def open_dialog(self, steps=()):
        """Opens the dialog, types `steps` into it and waits for it."""
        self.tmux.keys("F11", "Enter")
        self.tmux.send(steps)
        return self.tmux.wait(dialog_shown, "the dialog")

    def confirm(self, key="Enter"):
        """Closes the dialog; the panels come back, with no message over them."""
        self.tmux.keys(key)
        return self.tmux.wait(lambda s: panels_clear(s) and s[PROMPT].startswith(self.prompt),
                              f"the panels of {self.prompt} again, and no message")

    def marked(self, before=()):
        """The names marked on the active panel, read back through the user
        menu after the keys `before`."""
        self.marked_file.unlink(missing_ok=True)
        self.tmux.send(list(before) + ["F2", "s"])
        end = time.monotonic() + DEADLINE
        while not (self.marked_file.exists() and self.marked_file.read_bytes().endswith(b"\n")):
            if time.monotonic() > end:
                raise Timeout("no list of marked names:\n" + "\n".join(self.tmux.screen()))
            time.sleep(0.02)
        names = self.marked_file.read_bytes().decode("utf-8").splitlines()
        return sorted(n for n in names if n != "..")

    def mark_beforehand(self, lines, names):
        """Marks `names` with Insert, the cursor starting on '..'."""
        rows = {line[1:28].rstrip(): i for i, line in enumerate(lines[2:PROMPT - 4])}
        cursor = 0
        for row in sorted(rows[n] for n in names):
            self.tmux.keys(*["Down"] * (row - cursor), "Insert")
            cursor = row + 1
        # Back on '..', which the user menu names when nothing is marked.
        self.tmux.keys(*["Up"] * cursor)

    def select(self, folder, steps, premarked=()):
        """One run: a fresh panel of `folder`, `premarked` marked, the dialog
        reset, `steps` typed, confirmed; the marked names."""
        # The run is typed ahead: keys wait in the console's input until the
        # host reads them, so only marking needs to see the panel first. A
        # message box after the dialog would take the keys of the read-back.
        lines = self.cd(folder, wait=bool(premarked))
        if premarked:
            self.mark_beforehand(lines, premarked)
        names = self.marked(["F11", "Enter", "BTab", "Enter"] + list(steps) + ["Enter"])
        self.tmux.wait(lambda s: panels_clear(s) and s[PROMPT].startswith(self.prompt),
                       f"the panels of {self.prompt}, and no message")
        return names

    def quit(self):
        self.tmux.keys("F10")
        self.tmux.wait(lambda s: any("╔" in line[30:90] for line in s[1:PROMPT]),
                       "the question to quit")
        self.tmux.keys("Enter")
        self.tmux.wait_gone("the host")


def install(box, host, package):
    """The host copied where it may write, the package unpacked into its
    Plugins folder as a user unpacks it."""
    shutil.copytree(host, box / "host")
    for folder, dirs, files in os.walk(box / "host"):
        for name in dirs + files:
            os.chmod(os.path.join(folder, name), 0o755 if name in dirs else 0o644)
    plugins = box / "host" / "Plugins"
    plugins.mkdir(exist_ok=True)
    with zipfile.ZipFile(package) as z:
        z.extractall(plugins)


def console(program, folder, args, env, premarked=()):
    """Our console host on `folder`: the names it marks."""
    extra = []
    if premarked:
        listing = folder.parent / (folder.name + ".premarked")
        listing.write_text("".join(n + "\n" for n in premarked))
        extra = ["--selected", str(listing)]
    run = subprocess.run([program, "-q"] + extra + list(args), cwd=folder, env=env,
                         capture_output=True)
    if run.returncode not in (0, 1):
        raise RuntimeError(f"marlit {args} in {folder}: {run.stderr.decode()}")
    return sorted(run.stdout.decode("utf-8").splitlines())
