#!/usr/bin/env python3
"""marlit.dll in the real file manager (3.0.6727, 32-bit, under Wine),
typed into as a user types, against our console host marlit on the same
directories. The host is looked for in ../shared/realhost beside the project,
or in the folder $MARLIT_REALHOST names; without it the suite says so in one
line and passes.

    tests/realhost/suite.py [--marlit build/native/bin/marlit]
                            [--package build/windows/marlit-VERSION-win32.zip]
"""

import argparse
import datetime
import os
import pathlib
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import time
import zoneinfo

from driver import (DIALOG_TOP, Far, Timeout, Tmux, console, dialog_alone, dialog_shown,
                    frame_lines, install)

ROOT = pathlib.Path(__file__).resolve().parents[2]
MARLIT_KEY = r"HKEY_CURRENT_USER\Software\Far Manager\Plugins\Marlit"

# The panel of the criteria rows. Files: name, bytes, day of the month, time
# of the last write, read-only; folders: name, day, time. Wine, as our console
# host, makes dot names hidden, files without write permission read-only and
# every regular file archive.
FILES = [
    ("a.txt", 100, 5, "08:30", False),
    ("b.md", 2048, 10, "12:00", False),
    ("c.log", 1048577, 15, "18:45", False),
    ("d.txt", 0, 20, "23:59", True),
    ("e.bak", 5000, 25, "00:00", False),
    ("f.txt", 10, 3, "06:15", False),
    ("h.2024.csv", 3000, 28, "14:10", False),
    (".i.txt", 50, 12, "09:00", False),
    ("j", 700, 1, "00:30", False),
    ("k,l.md", 1, 7, "07:00", False),
    ("m;n.txt", 2, 8, "20:00", False),
]
FOLDERS = [("docs", 8, "10:00"), ("old.d", 2, "11:11"), (".cache", 9, "09:09")]
EVERYTHING = " ".join([f[0] for f in FILES] + [f[0] for f in FOLDERS])


def row(marked, before="", **fields):
    return fields, before.split(), sorted(marked.split())


# Criteria rows: the dialog's fields (include and exclude as the attribute
# letters arhsdc), the names marked beforehand, the names marked after. Dates
# are in month {m} of 2024, the month of the stamps.
LONG_MASK = "x" * 254 + ",*.md"  # 259 characters; the pattern that matches comes last
ROWS = [
    row("a.txt d.txt f.txt .i.txt m;n.txt", mask="*.txt"),
    row("a.txt d.txt f.txt .i.txt m;n.txt b.md k,l.md", mask="*.txt,*.md"),
    row("c.log e.bak", mask="*.log;*.bak"),
    row("b.md c.log e.bak h.2024.csv j k,l.md docs old.d .cache", mask="*.*|*.txt"),
    row(EVERYTHING.replace("e.bak ", ""), mask="|*.bak"),
    row("k,l.md m;n.txt", mask='"k,l.md";"m;n.txt"'),
    row("a.txt d.txt f.txt .i.txt", mask='*.txt|"m;n.txt"'),
    row("c.log e.bak", mask=" *.log , *.bak "),
    row("b.md k,l.md", mask=",*.md,,;"),
    row("j docs", mask="*."),
    row("a.txt d.txt f.txt", mask="?.txt"),
    row("b.md", size="2k"),
    row("b.md c.log e.bak h.2024.csv", size="1k.."),
    row("d.txt f.txt k,l.md m;n.txt docs old.d .cache", size="..10"),
    row("c.log", size="1m.."),
    row("a.txt b.md h.2024.csv j", size="100..3000"),
    row("a.txt d.txt f.txt .i.txt m;n.txt", mask="*.txt", size="..1k"),
    row("b.md", date="10-{m}-24"),
    row("c.log d.txt e.bak h.2024.csv .i.txt", date="12-{m}-24.."),
    row("a.txt f.txt j old.d", date="..5-{m}-24"),
    row("a.txt b.md k,l.md m;n.txt docs .cache", date="5-{m}-2024..10-{m}-24"),
    row("b.md c.log d.txt h.2024.csv m;n.txt", time="12:00.."),
    row("a.txt e.bak f.txt j k,l.md", time="..08:30"),
    row("c.log", time="18:45"),
    row(".i.txt docs old.d .cache", time="9:00..11:11"),
    row("a.txt f.txt j k,l.md", date="..10-{m}-24", time="..8:30"),
    row(".i.txt .cache", include="h"),
    row("docs old.d .cache", include="d"),
    row("d.txt .i.txt .cache", include="rh"),
    row("docs old.d .cache", exclude="a"),
    row(EVERYTHING.replace("d.txt ", ""), exclude="r"),
    row(EVERYTHING.replace(" .cache", ""), exclude="dh"),
    row("docs old.d", include="d", exclude="h"),
    row("a.txt d.txt f.txt m;n.txt", mask="*.txt", size="..100", date="1-{m}-24..", exclude="h"),
    row("b.md c.log k,l.md", "c.log", mask="*.md"),
    row("b.md", "a.txt b.md d.txt", mask="*.txt", action="deselect"),
    row("c.log b.md k,l.md d.txt f.txt .i.txt m;n.txt", "a.txt c.log", mask="*.txt,*.md",
        action="invert"),
    row("b.md k,l.md", "c.log e.bak", mask="*.md", clear=True),
    row("", "b.md", mask="*.md", action="deselect", clear=True),
    row("docs old.d .cache", "a.txt", include="d", action="invert", clear=True),
    # Odd input: no message, and the documented reading.
    row("d.txt docs old.d .cache", size="abc"),  # no digit: 0 bytes
    row("", date="31-2-24"),  # no such day: no date passes
    row("b.md k,l.md", mask=LONG_MASK),
]

# Name rules: every pattern against the same names; the names it matches, as
# the real host matches them. A mask that ends in ".*" also takes the name
# without that last part; one that ends in "." the name without a dot.
NAMES = ["a", "ab", "abc.txt", "B.C", "notes.TXT", "x.tar.gz", "data.2024.csv", "my file.txt",
         "café.txt", "Read.Me", ".profile", "z-1"]
DOTTED = "/".join(n for n in NAMES if "." in n)
NAME_ROWS = [
    ("*", "/".join(NAMES)),
    ("*.*", "/".join(NAMES)),
    ("*.", "a/ab/z-1"),
    ("?", "a"),
    ("??", "ab"),
    ("?.?", "B.C"),
    ("*.?", "B.C"),
    ("*.txt", "abc.txt/notes.TXT/my file.txt/café.txt"),
    ("*.TXT", "abc.txt/notes.TXT/my file.txt/café.txt"),
    ("read.me", "Read.Me"),
    ("[ab]*", "a/ab/abc.txt/B.C"),
    ("[a-c]?", "ab"),
    ("[x-z]*", "x.tar.gz/z-1"),
    ("[a-]*", "a/ab/abc.txt"),
    ("[!a]*", "a/ab/abc.txt"),
    ("a[b", ""),
    ("*[.]*", DOTTED),
    ("*.gz", "x.tar.gz"),
    ("*.tar.*", "x.tar.gz"),
    ("data.*", "data.2024.csv"),
    ("* *", "my file.txt"),
    ("my file.txt", "my file.txt"),
    ("caf?.txt", "café.txt"),
    ("*É*", "café.txt"),
    (".*", ".profile"),
    ("*e", "Read.Me/.profile"),
    ("z-?", "z-1"),
    ("ab.*", "ab"),
    ("*.txt.*", "abc.txt/notes.TXT/my file.txt/café.txt"),
    ("*e.*", "Read.Me/.profile/my file.txt"),
    ("*.*.*", DOTTED),
    ("*.*.*.*", "x.tar.gz/data.2024.csv"),
    ("ab.", "ab"),
]

# Every field through the keyboard, then what the store holds.
FIELDS = dict(mask="?.txt", size="..2k", time="..12:00", date="1-{m}-24..", include="ah",
              exclude="r", action="invert", clear=True)
FIELDS_BEFORE = ["b.md", "d.txt"]
FIELDS_MARKED = ["a.txt", "f.txt"]
STORED = {"ClearFirst": ("REG_DWORD", "0x1"), "Mode": ("REG_DWORD", "0x2"),
          "InAttr": ("REG_DWORD", "0x5"), "ExAttr": ("REG_DWORD", "0x2"),
          "Mask": ("REG_SZ", "?.txt"), "Size": ("REG_SZ", "..2k"),
          "Time": ("REG_SZ", "..12:00"), "Date": ("REG_SZ", "1-{m}-24..")}

TEXT_FIELDS = {"mask": "f", "size": "z", "date": "w", "time": "t"}
INCLUDE_KEYS = dict(zip("arhsdc", "aohyrc"))
EXCLUDE_KEYS = dict(zip("arhsdc", "vlnmep"))
ACTION_KEYS = {"select": "M-s", "deselect": "M-d", "invert": "M-i"}


def dialog_keys(fields, month):
    keys = []
    for field, hotkey in TEXT_FIELDS.items():
        if field in fields:
            keys += [f"M-{hotkey}", "C-y", ("text", fields[field].format(m=month))]
    keys += ["M-" + INCLUDE_KEYS[a] for a in fields.get("include", "")]
    keys += ["M-" + EXCLUDE_KEYS[a] for a in fields.get("exclude", "")]
    keys += [ACTION_KEYS[fields.get("action", "select")]] + (["M-u"] if fields.get("clear") else [])
    return keys


def console_args(fields, month):
    args = []
    for field in TEXT_FIELDS:
        if field in fields:
            args += [f"--{field}", fields[field].format(m=month)]
    for option in ("include", "exclude"):
        if fields.get(option):
            args += [f"--{option}", ",".join(fields[option])]
    args.append("--" + fields.get("action", "select"))
    return args + (["--clear-first"] if fields.get("clear") else [])


class Checks:
    def __init__(self):
        self.passed, self.failed = 0, 0

    def equal(self, what, got, want):
        if got == want:
            self.passed += 1
        else:
            self.fail(f"{what}:\n    got:  {got!r}\n    want: {want!r}")

    def fail(self, message, count=1):
        print(f"realhost: FAILED {message}", flush=True)
        self.failed += count

    def hosts(self, what, real, ours, want):
        """Each host against the expected answer; both answers told on a failure."""
        wrong = (real != want) + (ours != want)
        self.passed += 2 - wrong
        if wrong:
            self.fail(f"{what}:\n    real host:    {real!r}\n    console host: {ours!r}\n"
                      f"    expected:     {want!r}", wrong)

    def dialogs(self, what, real, ours):
        a, b = frame_lines(real), frame_lines(ours)
        diff = [f"    line {i + 1}:\n      real:    {x}\n      console: {y}"
                for i, (x, y) in enumerate(zip(a, b)) if x != y]
        if diff:
            self.fail(f"{what}: the two captures differ\n" + "\n".join(diff))
        else:
            self.passed += 1


def stamp(path, tz, month, day, clock):
    hour, minute = map(int, clock.split(":"))
    moment = datetime.datetime(2024, month, day, hour, minute, tzinfo=zoneinfo.ZoneInfo(tz))
    os.utime(path, (moment.timestamp(), moment.timestamp()), follow_symlinks=False)


def make_panel(folder, tz, month):
    folder.mkdir(parents=True)
    for name, size, day, clock, read_only in FILES:
        with open(folder / name, "wb") as f:
            f.truncate(size)
        stamp(folder / name, tz, month, day, clock)
        if read_only:
            (folder / name).chmod(0o444)
    for name, day, clock in FOLDERS:
        (folder / name).mkdir()
        stamp(folder / name, tz, month, day, clock)


class Suite:
    def __init__(self, box, host, package, marlit):
        self.box, self.host, self.package, self.marlit = box, host, package, marlit
        self.checks = Checks()
        self.socket = f"marlit-realhost-{os.getpid()}"
        # Stamps in the offset the zone is in now: the Windows build applies
        # today's offset to every stamp, the console host each stamp's own.
        berlin_dst = datetime.datetime.now(zoneinfo.ZoneInfo("Europe/Berlin")).dst()
        self.month = 7 if berlin_dst else 1
        self.wine_env = {"WINEPREFIX": str(box / "prefix"), "WINEDEBUG": "-all"}
        self.locale = {}
        self.help = {}

    # -- The console host
    def console_env(self, tz, language="C.UTF-8"):
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("TMUX", "LC_", "LANG", "TZ", "MARLIT_", "XDG_", "NO_COLOR"))}
        env.update(LANG=language, TZ=tz, TERM="xterm-256color",
                   MARLIT_REGISTRY=str(self.box / "console.reg"),
                   XDG_STATE_HOME=str(self.box / "state"), **self.locale)
        return env

    def console_dialog(self, fields, language="C.UTF-8"):
        """marlit -i's capture of its dialog, from the defaults changed by `fields`."""
        tmux = Tmux(self.socket, "console")
        env = self.console_env("UTC", language)
        words = [str(self.marlit), "-i", "--reset"] + console_args(fields, self.month)
        tmux.start("exec env " + " ".join(shlex.quote(f"{k}={v}") for k, v in env.items()) +
                   " " + " ".join(map(shlex.quote, words + [str(self.box)])) + " >/dev/null")
        lines = tmux.settle(tmux.wait(dialog_shown, "marlit -i's dialog"))
        tmux.keys("Escape")
        tmux.wait_gone("marlit -i")
        return lines

    # -- The real host
    def start(self, tz, language="English", lang="C.UTF-8"):
        env = dict(self.wine_env, TZ=tz, LANG=lang, LC_ALL=lang, **self.locale)
        return Far(self.box, Tmux(self.socket, "far"), env, language)

    def stored(self):
        """The values under the plug-in's key, by name: (type, value)."""
        run = subprocess.run(["wine", "reg", "query", MARLIT_KEY], capture_output=True,
                             env=dict(os.environ, **self.wine_env))
        lines = run.stdout.decode("utf-8", "replace").splitlines() if run.returncode == 0 else []
        values = (re.match(r"^ {4}(\S+) {4}(REG_\w+) {4}(.*)$", line) for line in lines)
        return {m[1]: (m[2], m[3]) for m in values if m}

    def wait_help(self, far, language):
        """F1 in the dialog: the help viewer on the plug-in's "Contents" topic."""
        words = self.help[language]
        far.tmux.keys("F1")
        try:
            far.tmux.wait(lambda s: any(words in line for line in s), "the help topic", 5)
            self.checks.passed += 1
        except Timeout as e:
            self.checks.fail(f"F1, {language}: {e}")
        # Whatever F1 showed, Esc closes it, one window or message at a time.
        for _ in range(3):
            far.tmux.keys("Escape")
            if dialog_alone(far.tmux.settle(far.tmux.screen())):
                return
        far.tmux.wait(dialog_alone, "the dialog after the help")

    def run_rows(self, far, tz, tag, first=1, last=len(ROWS)):
        for n, (fields, before, want) in enumerate(ROWS[first - 1:last], first):
            folder = self.box / tag / f"{n:02}"
            make_panel(folder, tz, self.month)
            ours = console(self.marlit, folder, console_args(fields, self.month),
                           self.console_env(tz), before)
            real = far.select(folder, dialog_keys(fields, self.month), before)
            self.checks.hosts(f"{tag} row {n} {fields} before {before}", real, ours, want)

    def name_rows(self, far):
        for n, (pattern, want) in enumerate(NAME_ROWS, 1):
            folder = self.box / "names" / f"{n:02}"
            folder.mkdir(parents=True)
            for name in NAMES:
                (folder / name).touch()
            fields = {"mask": pattern}
            ours = console(self.marlit, folder, console_args(fields, 1), self.console_env("UTC"))
            real = far.select(folder, dialog_keys(fields, 1))
            self.checks.hosts(f"name rule {pattern!r}", real, ours,
                              sorted(n for n in want.split("/") if n))

    def english_utc(self):
        far = self.start("UTC")
        checks = self.checks
        make_panel(self.box / "utc" / "fields", "UTC", self.month)
        # Opened on nothing stored: the defaults, drawn as marlit -i draws them.
        far.cd(self.box / "utc" / "fields")
        defaults = far.tmux.settle(far.open_dialog())
        checks.dialogs("the default dialog", defaults, self.console_dialog({}))
        self.wait_help(far, "English")
        # Cancel: nothing marked, nothing stored.
        far.tmux.send(dialog_keys(FIELDS, self.month))
        far.confirm("Escape")
        checks.equal("a cancel marks nothing", far.marked(), [])
        checks.equal("a cancel stores nothing", self.stored(), {})
        # Every field through the keyboard, marks as marlit's, the eight values stored.
        ours = console(self.marlit, self.box / "utc" / "fields", console_args(FIELDS, self.month),
                       self.console_env("UTC"), FIELDS_BEFORE)
        real = far.select(self.box / "utc" / "fields", dialog_keys(FIELDS, self.month),
                          FIELDS_BEFORE)
        checks.hosts("every field", real, ours, FIELDS_MARKED)
        stored = {k: (t, v.format(m=self.month)) for k, (t, v) in STORED.items()}
        checks.equal("the values stored", self.stored(), stored)
        # Loaded on the next open; Reset puts the defaults back; a cancel then
        # still stores nothing.
        checks.dialogs("the dialog on the stored values", far.tmux.settle(far.open_dialog()),
                       self.console_dialog(FIELDS))
        far.tmux.keys("BTab", "Enter")
        try:
            far.tmux.wait(lambda s: frame_lines(s) == frame_lines(defaults), "the defaults")
            checks.passed += 1
        except Timeout as e:
            checks.fail(f"Reset: {e}")
        far.confirm("Escape")
        checks.equal("a cancel after a reset keeps the stored values", self.stored(), stored)
        # After a run with another mask, the history offers the earlier one.
        self.run_rows(far, "UTC", "utc", 1, 1)
        far.open_dialog(["M-f", "C-Down"])
        try:
            far.tmux.wait(lambda s: any(f" {FIELDS['mask']} " in line for line in
                                        s[DIALOG_TOP + 3:DIALOG_TOP + 17]), "the mask history")
            checks.passed += 1
        except Timeout as e:
            checks.fail(f"history: {e}")
        far.tmux.keys("Escape")
        far.tmux.wait(lambda s: dialog_alone(s) and "┌" not in "".join(frame_lines(s)),
                      "the dialog after the history")
        far.confirm("Escape")
        self.run_rows(far, "UTC", "utc", 2)
        self.name_rows(far)
        far.quit()

    def berlin(self):
        far = self.start("Europe/Berlin")
        self.run_rows(far, "Europe/Berlin", "berlin")
        far.quit()

    def russian(self):
        lang = "ru_RU.UTF-8"
        far = self.start("UTC", "Russian", lang)
        far.cd(self.box / "utc" / "fields")
        far.open_dialog(["BTab", "Enter"])
        real = far.tmux.settle(far.tmux.wait(lambda s: "*.*" in s[DIALOG_TOP + 2], "the defaults"))
        self.checks.dialogs("the Russian dialog", real, self.console_dialog({}, lang))
        labels = lang_labels(self.box / "host" / "Plugins" / "Marlit" / "marlit_rus.lng")
        frame = "\n".join(frame_lines(real))
        missing = [text for text in labels if text not in frame]
        self.checks.equal("the Russian title and labels", missing, [])
        self.wait_help(far, "Russian")
        far.confirm("Escape")
        far.quit()

    def run(self):
        install(self.box, self.host / "host", self.package)
        # One Wine server for the whole run, kept between the host's starts;
        # the registry is read through it.
        (self.box / "prefix").mkdir()
        boot = subprocess.Popen(["sh", "-c", "wineserver -p && wineboot -i"],
                                env=dict(os.environ, **self.wine_env),
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            self.prepare_locale()
            for language, file in (("English", "marlit_eng"), ("Russian", "marlit_rus")):
                self.help[language] = help_contents(self.box / "host" / "Plugins" / "Marlit",
                                                    file)
            if boot.wait() != 0:
                raise RuntimeError("wineboot failed")
            self.english_utc()
            self.berlin()
            self.russian()
        finally:
            # Nothing may go on writing into the folder once it is removed.
            boot.wait()
            subprocess.run(["tmux", "-L", self.socket, "kill-server"], capture_output=True)
            for stop in ("-k", "-w"):
                subprocess.run(["wineserver", stop], env=dict(os.environ, **self.wine_env),
                               capture_output=True)

    def prepare_locale(self):
        """ru_RU.UTF-8 for Wine's code page 866: the system's, else one made here."""
        have = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout
        if "ru_RU.utf8" in have.split():
            return
        made = self.box / "locale"
        made.mkdir()
        subprocess.run(["localedef", "-i", "ru_RU", "-f", "UTF-8", str(made / "ru_RU.UTF-8")],
                       check=True, capture_output=True)
        self.locale = {"LOCPATH": str(made)}


def lang_labels(path):
    texts = re.findall(r'^"(.*)"\s*$', path.read_bytes().decode("cp866"), re.M)
    return [t.replace("&", "") for t in texts]


def help_contents(folder, stem):
    """The first words of the "Contents" topic of a help file."""
    path = next(folder.glob(stem + ".hl?"))
    text = path.read_bytes().decode("cp866" if "rus" in stem else "latin-1")
    topic = text.split("@Contents", 1)[1].splitlines()
    body = next(line for line in topic if line.startswith(" ") and line.strip())
    return " ".join(body.split()[:3])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--marlit", type=pathlib.Path, default=ROOT / "build/native/bin/marlit")
    parser.add_argument("--package", type=pathlib.Path)
    args = parser.parse_args()
    host = pathlib.Path(os.environ.get("MARLIT_REALHOST") or ROOT.parent / "shared" / "realhost")
    if not (host / "host" / "Far.exe").is_file():
        print(f"realhost: skipped: no real host at {host} (set MARLIT_REALHOST to its folder)")
        return 0
    package = args.package or next((ROOT / "build" / "windows").glob("marlit-*-win32.zip"), None)
    if package is None or not args.marlit.is_file():
        print("realhost: FAILED: build the native and the windows presets first", file=sys.stderr)
        return 1
    started = time.monotonic()
    box = pathlib.Path(tempfile.mkdtemp(prefix="marlit-realhost-"))
    suite = Suite(box, host, package.resolve(), args.marlit.resolve())
    try:
        suite.run()
    except Timeout as e:
        suite.checks.fail(str(e))
    finally:
        shutil.rmtree(box, ignore_errors=True)
    checks, seconds = suite.checks, round(time.monotonic() - started)
    if checks.failed:
        print(f"realhost: {checks.failed} of {checks.passed + checks.failed} checks failed "
              f"in {seconds} s")
        return 1
    print(f"realhost: {checks.passed} checks passed in {seconds} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
