"""The Debian package and the install rules of one build tree.

`package`: cpack's package with its fields, files, hardening and lintian's
verdict, a DESTDIR install and its uninstall, and (amd64) the pages,
completion, copyright file and AppStream metadata, and two clean builds of
the checkout in two directories that must pack to the same bytes.
`installed` (amd64): the packaged editor, unpacked into a scratch root,
started on the demo home, its window's class and icon read with xprop.
tests/CMakeLists.txt sets the MORV_* environment that names the tree.
"""

import datetime
import gzip
import importlib.util
import io
import os
import re
import shlex
import shutil
import subprocess
import sys
import tarfile
import tempfile
import unittest
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
BUILD = os.environ.get("MORV_BUILD_DIR", "")
ARCH = os.environ.get("MORV_DEB_ARCH", "")
VERSION = os.environ.get("MORV_VERSION", "")
RUNNER = shlex.split(os.environ.get("MORV_RUNNER", ""))
OUT = os.path.join(BUILD, "packaging-test")
DEB_NAME = "morvane-setup_%s_%s.deb" % (VERSION, ARCH)
DEB = os.path.join(OUT, DEB_NAME)
APP_ID = "example.c_seed_3fa6aebf.morvane_setup"

# Every file of the package, directories aside.
PACKAGE_FILES = {
    "usr/bin/morvane_setup", "usr/bin/morvrc_tool",
    "usr/share/man/man1/morvane_setup.1.gz", "usr/share/man/man1/morvrc_tool.1.gz",
    "usr/share/bash-completion/completions/morvrc_tool",
    "usr/share/applications/%s.desktop" % APP_ID,
    "usr/share/metainfo/%s.metainfo.xml" % APP_ID,
    "usr/share/icons/hicolor/scalable/apps/morvane-setup.svg",
    "usr/share/doc/morvane-setup/copyright", "usr/share/doc/morvane-setup/changelog.gz",
}
# ELF class and machine of the programs: (1, 3) i386, (2, 62) x86-64.
ELF = {"i386": (1, 3), "amd64": (2, 62)}[ARCH] if ARCH else None


def run(*args, **kw):
    return subprocess.run([str(a) for a in args], capture_output=True, text=True, **kw)


def elf_kind(path):
    with open(path, "rb") as f:
        head = f.read(20)
    return head[4], int.from_bytes(head[18:20], "little")


def tool_verbs(help_text):
    """The verbs that `morvrc_tool --help` lists: the first indented block."""
    block = help_text.split("\n\n")[1]
    return [line.split()[0] for line in block.splitlines() if re.match(r"  \S", line)]


def unpack(deb, root):
    r = run("dpkg-deb", "-x", deb, root)
    if r.returncode != 0:
        raise AssertionError("dpkg-deb -x: " + r.stderr)


def file_set(root):
    return {os.path.relpath(os.path.join(d, f), root)
            for d, _, files in os.walk(root) for f in files}


def dir_set(root):
    return {os.path.relpath(os.path.join(d, f), root)
            for d, dirs, _ in os.walk(root) for f in dirs}


def changelog_time():
    r = run("dpkg-parsechangelog", "-l", os.path.join(SOURCE, "packaging/changelog"), "-S", "Timestamp")
    if r.returncode != 0:
        raise AssertionError("dpkg-parsechangelog: " + r.stderr)
    return int(r.stdout)


class PackageTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        shutil.rmtree(OUT, ignore_errors=True)
        os.makedirs(OUT)
        r = run(os.environ["MORV_CPACK"], "-G", "DEB", "-B", OUT,
                "--config", os.path.join(BUILD, "CPackConfig.cmake"))
        if r.returncode != 0 or not os.path.exists(DEB):
            raise AssertionError("cpack failed:\n" + r.stdout + r.stderr)
        cls.scratch = tempfile.mkdtemp(prefix="morv-pkg-", dir=OUT)
        cls.root = os.path.join(cls.scratch, "root")
        unpack(DEB, cls.root)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def field(self, name):
        r = run("dpkg-deb", "-f", DEB, name)
        self.assertEqual(0, r.returncode, r.stderr)
        return r.stdout.rstrip("\n")

    def tool(self, *args):
        return run(*RUNNER, os.path.join(self.root, "usr/bin/morvrc_tool"), *args)

    def test_control_fields(self):
        self.assertEqual("morvane-setup", self.field("Package"))
        self.assertEqual(VERSION, self.field("Version"))
        self.assertEqual(ARCH, self.field("Architecture"))
        # The changelog's last entry is this version.
        with gzip.open(os.path.join(self.root, "usr/share/doc/morvane-setup/changelog.gz"), "rt") as f:
            self.assertRegex(f.readline(), r"^morvane-setup \(%s\) " % re.escape(VERSION))
        summary, _, extended = self.field("Description").partition("\n")
        self.assertTrue(summary.strip(), "a short description")
        self.assertGreaterEqual(len(extended.splitlines()), 3, "a long description")
        depends = {d.split()[0] for d in self.field("Depends").split(", ")}
        self.assertIn("libc6", depends)
        self.assertIn("libstdc++6", depends)
        if ARCH == "amd64":
            self.assertIn("libfltk1.3", depends)
        else:
            # FLTK is inside; the X libraries it calls are not.
            self.assertFalse([d for d in depends if "fltk" in d], depends)
            self.assertTrue({"libx11-6", "libxft2", "libfontconfig1"} <= depends, depends)

    def test_file_list_modes_and_programs(self):
        r = run("dpkg-deb", "-c", DEB)
        self.assertEqual(0, r.returncode, r.stderr)
        files = {}
        for line in r.stdout.splitlines():
            mode, owner, _, _, _, path = line.split(None, 5)
            if not mode.startswith("d"):
                files[path[2:]] = (mode, owner)
        self.assertEqual(PACKAGE_FILES, set(files))
        for path, (mode, owner) in files.items():
            self.assertEqual("root/root", owner, path)
            self.assertEqual("-rwxr-xr-x" if path.startswith("usr/bin/") else "-rw-r--r--", mode, path)
        for program in ("morvane_setup", "morvrc_tool"):
            self.assertEqual(ELF, elf_kind(os.path.join(self.root, "usr/bin", program)), program)
        # The packaged pages are the repository's, compressed.
        for page in ("morvane_setup.1", "morvrc_tool.1"):
            with gzip.open(os.path.join(self.root, "usr/share/man/man1", page + ".gz"), "rb") as f, \
                    open(os.path.join(SOURCE, "man", page), "rb") as g:
                self.assertEqual(g.read(), f.read(), page)
        r = self.tool("--help")
        self.assertEqual(0, r.returncode, r.stderr)
        self.assertTrue(r.stdout.startswith("Usage: morvrc_tool "), r.stdout[:200])

    def test_programs_are_hardened(self):
        # Everything that hardening=+all gives; Debian 12's flags have no
        # control-flow protection to find.
        programs = [os.path.join(self.root, "usr/bin", p) for p in ("morvane_setup", "morvrc_tool")]
        r = run("hardening-check", "--nocfprotection", *programs)
        self.assertEqual(0, r.returncode, r.stdout + r.stderr)
        self.assertEqual(2, r.stdout.count("Immediate binding: yes"), r.stdout)

    def test_lintian_finds_no_error(self):
        r = run("lintian", "--fail-on", "error", DEB)
        self.assertEqual(0, r.returncode, r.stdout + r.stderr)

    def test_cmake_install_with_destdir_and_uninstall(self):
        dest = os.path.join(self.scratch, "dest")
        prefix = os.environ["MORV_INSTALL_PREFIX"].strip("/")
        # Someone else's file in a directory the install shares.
        foreign = os.path.join(prefix, "share/doc/other/notes")
        os.makedirs(os.path.dirname(os.path.join(dest, foreign)))
        open(os.path.join(dest, foreign), "w").close()
        # The tree's record of installs holds none of cpack's staging (the
        # package was made first); one a developer made is kept out of this
        # test's uninstall.
        record = os.path.join(BUILD, "install_record.txt")
        if os.path.exists(record):
            with open(record) as f:
                self.assertFalse("/_CPack_Packages/" in f.read(), "cpack's staging recorded as an install")
            os.rename(record, record + ".saved")
            self.addCleanup(os.replace, record + ".saved", record)
        for _ in range(2):  # a second install over the first
            r = run(os.environ["MORV_CMAKE"], "--install", BUILD, env=dict(os.environ, DESTDIR=dest))
            self.assertEqual(0, r.returncode, r.stdout + r.stderr)
        expected = {os.path.join(prefix, p[len("usr/"):]) for p in PACKAGE_FILES}
        # The install keeps the repository's files as they are.
        expected = {p[:-3] if p.endswith(".gz") else p for p in expected}
        self.assertEqual(expected | {foreign}, file_set(dest))
        with open(os.path.join(dest, prefix, "bin/morvane_setup"), "rb") as f, \
                open(os.environ["MORV_EDITOR"], "rb") as g:
            self.assertTrue(f.read() == g.read(), "bin/morvane_setup is this tree's editor")

        # Uninstall removes the installed files and the directories that the
        # install created, and nothing else: not the foreign file or its
        # directories.
        r = run(os.environ["MORV_CMAKE"], "--build", BUILD, "--target", "uninstall")
        self.assertEqual(0, r.returncode, r.stdout + r.stderr)
        removed = re.findall(r"(?m)^-- Removed: (.*)$", r.stdout)
        self.assertTrue(removed, r.stdout)
        self.assertEqual([], [p for p in removed if not p.startswith(dest + "/")])
        self.assertEqual({foreign}, file_set(dest))
        parents, d = set(), os.path.dirname(foreign)
        while d:
            parents.add(d)
            d = os.path.dirname(d)
        self.assertEqual(parents, dir_set(dest))
        self.assertFalse(os.path.exists(record))


@unittest.skipUnless(ARCH == "amd64", "the same pages and scripts; checked once, in the amd64 tree")
class DocumentationTest(unittest.TestCase):
    """Manual pages, menu entry and completion, against the tool's own help;
    the copyright file and the AppStream metadata."""

    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="morv-doc-", dir=OUT)
        unpack(DEB, cls.root)
        tool = os.path.join(cls.root, "usr/bin/morvrc_tool")
        cls.help = run(tool, "--help").stdout
        cls.verbs = tool_verbs(cls.help)
        cls.verb_options = {v: set(re.findall(r"--[a-z]+", run(tool, "help", v).stdout))
                            for v in cls.verbs if v != "help"}

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root, ignore_errors=True)

    def render(self, page):
        r = run("man", "--warnings", "-l", os.path.join(SOURCE, "man", page),
                env=dict(os.environ, MANWIDTH="80"))
        self.assertEqual(0, r.returncode, r.stderr)
        self.assertEqual("", r.stderr, "%s: groff warnings" % page)
        for section in ("NAME", "SYNOPSIS", "DESCRIPTION", "FILES", "EXIT STATUS", "EXAMPLES"):
            self.assertRegex(r.stdout, r"(?m)^%s$" % section, page)
        return r.stdout

    def test_manual_pages_render_cleanly_and_cover_the_tool(self):
        self.render("morvane_setup.1")
        text = self.render("morvrc_tool.1")
        self.assertGreaterEqual(len(self.verbs), 6, self.help)
        commands = text.split("\nCOMMANDS\n")[1].split("\nOPTIONS\n")[0]
        for verb in self.verbs:
            self.assertRegex(commands, r"(?m)^       %s\b" % verb, "no entry for " + verb)
        for option in set.union(set(re.findall(r"--[a-z]+", self.help)), *self.verb_options.values()):
            self.assertIn(option, text)
        for status in range(7):
            self.assertRegex(text.split("\nEXIT STATUS\n")[1], r"(?m)^       %d  " % status)

    def complete(self, *words, home=None):
        """What the installed completion offers for the last of words, with
        HOME set to home when it is given."""
        script = ('source /usr/share/bash-completion/bash_completion\n'
                  'source "$1"; shift\n'
                  'COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}\n'
                  '_morvrc_tool; printf "%s\\n" "${COMPREPLY[@]}"\n')
        # The completion runs the installed tool for setting names.
        path = os.path.join(self.root, "usr/bin") + os.pathsep + os.environ.get("PATH", "")
        r = run("bash", "-c", script, "complete",
                os.path.join(self.root, "usr/share/bash-completion/completions/morvrc_tool"),
                "morvrc_tool", *words, env=dict(os.environ, PATH=path, HOME=home or os.environ.get("HOME", "/")),
                cwd=self.root)
        self.assertEqual(0, r.returncode, r.stderr)
        return set(r.stdout.split())

    def test_completion_offers_verbs_and_their_options(self):
        offered = self.complete("")
        self.assertEqual({"dump", "check", "convert", "get", "set", "list", "search", "describe",
                          "reset", "load", "edit", "diff", "watch", "history", "restore", "help",
                          "--help", "--version"}, offered)
        self.assertTrue(set(self.verbs) <= offered, self.verbs)
        self.assertEqual({"describe", "diff", "dump"}, self.complete("d"))
        for verb, options in self.verb_options.items():
            self.assertTrue(options <= self.complete(verb, "--"), (verb, options))
        self.assertEqual({"32", "64"}, self.complete("convert", "--from", ""))
        self.assertEqual({"1", "2"}, self.complete("list", "--xchat", ""))
        # Setting names, from the file named before them, where the tool runs here.
        tool = os.path.join(self.root, "usr/bin/morvrc_tool")
        if run(tool, "--version").returncode == 0:
            self.assertEqual(0, run(tool, "set", os.path.join(self.root, "rc"), "iFlagColor", "0")
                             .returncode)
            self.assertEqual({"iMaxCloneCount", "iMaxQueryMSGFlood", "iMaxMessageSent",
                              "iMaxMessageChar"}, self.complete("get", "rc", "--json", "iMax"))
            # Exactly the names each verb takes: set no pair's own name, reset
            # the rows of the home's list, before the verb too.
            demo = ("--home", os.path.join(SOURCE, "demo", "home"))
            self.assertEqual({"psFlagChanJoinBeep[0]", "psFlagChanJoinBeep[1]"},
                             self.complete("set", "rc", "psFlagChanJ"))
            self.assertEqual({"psFlagChanJoinBeep", "psFlagChanJoinBeep[0]", "psFlagChanJoinBeep[1]"},
                             self.complete(*demo, "reset", "rc", "iFlagColor", "psFlagChanJ"))
            self.assertEqual({"ChanJoinBeep.channel", "ChanJoinBeep.sound"},
                             self.complete("describe", *demo, "ChanJ"))
            self.assertEqual(set(), self.complete("reset", "rc", "psFlagChanJ", home=self.root))
            # The history's verbs take FILE where it stands: restore after N.
            self.assertIn("rc", self.complete("history", "r"))
            self.assertIn("rc", self.complete("restore", "1", "r"))
            self.assertNotIn("rc", self.complete("restore", "r"))
            # FILE as typed, through ~/, $HOME/ and an escaped space; events by name.
            os.makedirs(os.path.join(self.root, "my dir"), exist_ok=True)
            shutil.copy(os.path.join(self.root, "rc"), os.path.join(self.root, "my dir", "rc"))
            for typed in ("~/my\\ dir/rc", "$HOME/my\\ dir/rc"):
                self.assertEqual({"NOTICE", "NOTIFY"}, self.complete("get", typed, "NOTI", home=self.root),
                                 typed)
            # FILE left out: the names of the home's morvrc.
            home = os.path.join(self.root, "my dir")
            os.makedirs(os.path.join(home, ".xchat2", "morvane"), exist_ok=True)
            shutil.copy(os.path.join(self.root, "rc"), os.path.join(home, ".xchat2", "morvane", "morvrc"))
            self.assertEqual({"NOTICE", "NOTIFY"}, self.complete("get", "NOTI", home=home))
            # The versions of the home's morvrc after restore and diff @.
            morvrc = os.path.join(home, ".xchat2", "morvane", "morvrc")
            for value in ("1", "2"):
                run(tool, "set", morvrc, "iMaxCloneCount", value, env=dict(os.environ, HOME=home))
            self.assertEqual({"1", "2"}, self.complete("restore", "", home=home))
            self.assertEqual({"@1", "@2"}, self.complete("diff", "@", home=home))

    def test_desktop_entry_is_valid_and_starts_the_editor(self):
        path = os.path.join(SOURCE, "packaging", APP_ID + ".desktop")
        r = run("desktop-file-validate", path)
        self.assertEqual(("", 0), (r.stdout + r.stderr, r.returncode))
        with open(path) as f:
            entry = f.read()
        self.assertRegex(entry, r"(?m)^Exec=morvane_setup$")
        self.assertRegex(entry, r"(?m)^Icon=morvane-setup$")

    def test_copyright_is_dep5_and_gpl2_or_later(self):
        # Debian's parser, strict: a malformed paragraph or field fails here.
        from debian import copyright
        with open(os.path.join(self.root, "usr/share/doc/morvane-setup/copyright")) as f:
            c = copyright.Copyright(f, strict=True)
        self.assertEqual("https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/",
                         c.header.format)
        ours = c.find_files_paragraph("editor/main.cpp").license
        self.assertEqual("GPL-2.0-or-later", ours.synopsis)
        self.assertIn("/usr/share/common-licenses/GPL-2", ours.text)
        fltk = c.find_files_paragraph("usr/bin/morvane_setup")
        self.assertRegex(fltk.license.synopsis, r"^LGPL-2\.0-or-later with FLTK exception$")
        self.assertIn("/usr/share/common-licenses/LGPL-2", fltk.license.text)
        self.assertIn("i386", fltk.comment)
        # LICENSE is the full text that the copyright file points to.
        with open(os.path.join(SOURCE, "LICENSE"), "rb") as f, \
                open("/usr/share/common-licenses/GPL-2", "rb") as g:
            self.assertTrue(f.read() == g.read(), "LICENSE is the GPL-2 text")

    def test_appstream_metadata_is_valid_and_names_the_menu_entry(self):
        path = os.path.join(self.root, "usr/share/metainfo", APP_ID + ".metainfo.xml")
        r = run("appstreamcli", "validate", "--pedantic", "--no-net", path)
        self.assertEqual(0, r.returncode, r.stdout + r.stderr)
        self.assertEqual([], re.findall(r"(?m)^[WEP]: .*", r.stdout), r.stdout)
        component = ET.parse(path).getroot()
        self.assertEqual(APP_ID, component.findtext("id"))
        launchable = component.findtext("launchable")
        self.assertTrue(os.path.exists(os.path.join(self.root, "usr/share/applications", launchable)),
                        launchable)
        self.assertEqual("GPL-2.0-or-later", component.findtext("project_license"))
        # The screenshot is the README's picture.
        image = component.findtext("screenshots/screenshot/image")
        self.assertTrue(image.endswith("/demo/screenshot.png"), image)
        with open(os.path.join(SOURCE, "README.md")) as f:
            self.assertIn("(demo/screenshot.png)", f.read())
        release = component.find("releases/release")
        self.assertEqual(VERSION, release.get("version"))
        self.assertEqual(datetime.datetime.fromtimestamp(changelog_time(), datetime.timezone.utc).date(),
                         datetime.date.fromisoformat(release.get("date")))


class ReproducibleTest(unittest.TestCase):
    """The checkout built in two directories, as the README builds it, and
    packed by a plain cpack in each tree: the same bytes.  One width shows
    it (tests/CMakeLists.txt runs it for x86-64); two builds take long enough."""

    def build(self, top):
        """Copies the checkout to top, builds and packs it; returns the package's path."""
        shutil.copytree(SOURCE, top, symlinks=True,
                        ignore=shutil.ignore_patterns("build", ".git", "__pycache__"))
        flags = run("bash", "tools/dev", "flags", cwd=top)
        self.assertEqual(0, flags.returncode, flags.stderr)
        tree = os.path.join(top, "build/x86-64")
        script = (flags.stdout + 'set -e\n'
                  'cmake -S . -B build/x86-64 -DMORV_TESTS=OFF >/dev/null\n'
                  'cmake --build build/x86-64 -j2 >/dev/null\n'
                  'cd build/x86-64 && cpack -G DEB >/dev/null\n')
        env = {k: v for k, v in os.environ.items() if k != "SOURCE_DATE_EPOCH"}
        r = run("bash", "-c", script, cwd=top, env=env)
        self.assertEqual(0, r.returncode, r.stdout + r.stderr)
        return os.path.join(tree, DEB_NAME)

    def test_two_checkouts_pack_to_the_same_bytes(self):
        # Not under OUT, which the package tests, perhaps running meanwhile, empty.
        scratch = os.path.join(BUILD, "packaging-reproducible")
        shutil.rmtree(scratch, ignore_errors=True)
        self.addCleanup(shutil.rmtree, scratch, ignore_errors=True)
        first = self.build(os.path.join(scratch, "a", "morvane"))
        second = self.build(os.path.join(scratch, "second-place", "checkout"))
        with open(first, "rb") as f, open(second, "rb") as g:
            self.assertTrue(f.read() == g.read(), "%s and %s differ" % (first, second))
        # Every file time is the changelog's, not the time of the build.
        stamp = changelog_time()
        tar = subprocess.run(["dpkg-deb", "--fsys-tarfile", first], capture_output=True, check=True)
        with tarfile.open(fileobj=io.BytesIO(tar.stdout)) as t:
            self.assertEqual({stamp}, {m.mtime for m in t.getmembers()})


class InstalledTest(unittest.TestCase):
    """The packaged editor, unpacked into a scratch root, on the demo home."""

    @classmethod
    def setUpClass(cls):
        # Only now: the harness takes the machine's editor lock at import.
        global editor_session
        import editor_session
        cls.root = tempfile.mkdtemp(prefix="morv-root-", dir=OUT)
        unpack(DEB, cls.root)
        cls.editor = os.path.join(cls.root, "usr/bin/morvane_setup")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root, ignore_errors=True)

    def start_on_demo(self, xchat_dir, program, check_window=None):
        """Starts program on the demo home, calls check_window(editor) at the
        main window, quits; returns the console output."""
        e = editor_session.Editor("packaged", xchat_dir=xchat_dir, setup_dat=False, messages=False)
        self.addCleanup(e.close)
        demo = os.path.join(SOURCE, "demo/home/.xchat2/morvane")
        for name in os.listdir(demo):
            shutil.copy(os.path.join(demo, name), e.dir)
        if program is None:
            program = os.path.join(e.dir, "morvane_setup")
            os.symlink(self.editor, program)
        e.start(program=program)
        e.answer("Return")  # the demo has no morvrc: the attention box
        e.wait_main()
        self.assertIn("Version %s - " % VERSION, e.windows()[e.window])
        if check_window:
            check_window(e)
        e.key("q")
        self.assertEqual(0, e.wait_exit())
        return e.stdout()

    def xprop(self, e, *args):
        r = run("xprop", "-id", e.window, *args, env=e.env)
        self.assertEqual(0, r.returncode, r.stderr)
        return r.stdout

    def check_class_and_icon(self, e):
        # A taskbar matches the window to the menu entry by the instance
        # part of WM_CLASS or, ignoring case, by its class part.
        with open(os.path.join(self.root, "usr/share/applications", APP_ID + ".desktop")) as f:
            wm_class = re.search(r"(?m)^StartupWMClass=(.*)$", f.read()).group(1)
        instance, klass = re.findall(r'"([^"]*)"', self.xprop(e, "WM_CLASS"))
        self.assertEqual((wm_class, wm_class), (instance, klass.lower()))
        # The icon is the menu entry's SVG, rasterised as tools/make-icon.py
        # does: _NET_WM_ICON holds width, height, then ARGB pixels.
        numbers = [int(n) for n in re.findall(r"\d+", self.xprop(e, "-notype", "32c", "_NET_WM_ICON"))]
        found = importlib.util.spec_from_file_location("make_icon", os.path.join(SOURCE, "tools/make-icon.py"))
        make_icon = importlib.util.module_from_spec(found)
        found.loader.exec_module(make_icon)
        rgba = make_icon.rasterise()
        want = [rgba[i + 3] << 24 | rgba[i] << 16 | rgba[i + 1] << 8 | rgba[i + 2]
                for i in range(0, len(rgba), 4)]
        self.assertEqual([make_icon.SIZE, make_icon.SIZE], numbers[:2])
        self.assertTrue(want == numbers[2:], "the window's icon is not packaging/morvane-setup.svg")

    def test_menu_start_uses_xchat2(self):
        out = self.start_on_demo(".xchat2/morvane", self.editor, self.check_class_and_icon)
        self.assertIn("Check the .xchat2/morvane/ directory", out)

    def test_link_under_xchat_uses_xchat1(self):
        out = self.start_on_demo(".xchat/morvane", None)
        self.assertIn("Check the .xchat/morvane/ directory", out)


if __name__ == "__main__":
    mode = sys.argv.pop(1) if len(sys.argv) > 1 else ""
    modes = {"package": (PackageTest, DocumentationTest), "installed": (InstalledTest,),
             "reproducible": (ReproducibleTest,)}
    if mode not in modes:
        sys.exit("usage: packaging_test.py package|installed|reproducible")
    tests = modes[mode]
    suite = unittest.TestSuite(unittest.defaultTestLoader.loadTestsFromTestCase(t) for t in tests)
    sys.exit(0 if unittest.TextTestRunner(verbosity=2).run(suite).wasSuccessful() else 1)
