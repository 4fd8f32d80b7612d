"""The Debian package and the install rules of one build tree.

`package`: cpack's package with its fields, files, lintian's verdict, a
DESTDIR install, and (amd64) the pages and completion against the tool's
help.  `installed` (amd64): the packaged editor, unpacked into a scratch
root, started on the demo home.  tests/CMakeLists.txt sets the MORV_*
environment that names the tree.
"""

import gzip
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
BUILD = os.environ.get("MORV_BUILD_DIR", "")
ARCH = os.environ.get("MORV_DEB_ARCH", "")
VERSION = os.environ.get("MORV_VERSION", "")
RUNNER = shlex.split(os.environ.get("MORV_RUNNER", ""))
OUT = os.path.join(BUILD, "packaging-test")
DEB = os.path.join(OUT, "morvane-setup_%s_%s.deb" % (VERSION, ARCH))

# Every file of the package, directories aside.
PACKAGE_FILES = {
    "usr/bin/morvane_setup", "usr/bin/morvrc_tool",
    "usr/share/man/man1/morvane_setup.1.gz", "usr/share/man/man1/morvrc_tool.1.gz",
    "usr/share/bash-completion/completions/morvrc_tool",
    "usr/share/applications/morvane-setup.desktop",
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
    return [line.split()[0] for line in block.splitlines() if line.startswith("  ")]


def unpack(deb, root):
    r = run("dpkg-deb", "-x", deb, root)
    if r.returncode != 0:
        raise AssertionError("dpkg-deb -x: " + r.stderr)


def file_set(root):
    return {os.path.relpath(os.path.join(d, f), root)
            for d, _, files in os.walk(root) for f in files}


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

    def test_lintian_finds_no_error(self):
        r = run("lintian", "--fail-on", "error", DEB)
        self.assertEqual(0, r.returncode, r.stdout + r.stderr)

    def test_cmake_install_with_destdir(self):
        dest = os.path.join(self.scratch, "dest")
        r = run(os.environ["MORV_CMAKE"], "--install", BUILD, env=dict(os.environ, DESTDIR=dest))
        self.assertEqual(0, r.returncode, r.stdout + r.stderr)
        prefix = os.environ["MORV_INSTALL_PREFIX"].strip("/")
        expected = {os.path.join(prefix, p[len("usr/"):]) for p in PACKAGE_FILES}
        # The install keeps the repository's files as they are.
        expected = {p[:-3] if p.endswith(".gz") else p for p in expected}
        self.assertEqual(expected, file_set(dest))
        with open(os.path.join(dest, prefix, "bin/morvane_setup"), "rb") as f, \
                open(os.environ["MORV_EDITOR"], "rb") as g:
            self.assertTrue(f.read() == g.read(), "bin/morvane_setup is this tree's editor")


@unittest.skipUnless(ARCH == "amd64", "the same pages and scripts; checked once, in the amd64 tree")
class DocumentationTest(unittest.TestCase):
    """Manual pages, menu entry and completion, against the tool's own help."""

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

    def complete(self, *words):
        """What the installed completion offers for the last of words."""
        script = ('source /usr/share/bash-completion/bash_completion\n'
                  'source "$1"; shift\n'
                  'COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}\n'
                  '_morvrc_tool; printf "%s\\n" "${COMPREPLY[@]}"\n')
        r = run("bash", "-c", script, "complete",
                os.path.join(self.root, "usr/share/bash-completion/completions/morvrc_tool"),
                "morvrc_tool", *words)
        self.assertEqual(0, r.returncode, r.stderr)
        return set(r.stdout.split())

    def test_completion_offers_verbs_and_their_options(self):
        offered = self.complete("")
        self.assertEqual({"dump", "check", "convert", "get", "set", "list", "describe", "reset",
                          "load", "diff", "watch", "help", "--help"}, offered)
        self.assertTrue(set(self.verbs) <= offered, self.verbs)
        self.assertEqual({"describe", "diff", "dump"}, self.complete("d"))
        for verb, options in self.verb_options.items():
            self.assertTrue(options <= self.complete(verb, "--"), (verb, options))
        self.assertEqual({"32", "64"}, self.complete("convert", "--from", ""))
        self.assertEqual({"1", "2"}, self.complete("list", "--xchat", ""))

    def test_desktop_entry_is_valid_and_starts_the_editor(self):
        path = os.path.join(SOURCE, "packaging", "morvane-setup.desktop")
        r = run("desktop-file-validate", path)
        self.assertEqual(("", 0), (r.stdout + r.stderr, r.returncode))
        with open(path) as f:
            entry = f.read()
        self.assertRegex(entry, r"(?m)^Exec=morvane_setup$")
        self.assertRegex(entry, r"(?m)^Icon=morvane-setup$")


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

    def start_on_demo(self, xchat_dir, program):
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
        e.key("q")
        self.assertEqual(0, e.wait_exit())
        return e.stdout()

    def test_menu_start_uses_xchat2(self):
        out = self.start_on_demo(".xchat2/morvane", self.editor)
        self.assertIn("Check the .xchat2/morvane/ directory", out)

    def test_link_under_xchat_uses_xchat1(self):
        out = self.start_on_demo(".xchat/morvane", None)
        self.assertIn("Check the .xchat/morvane/ directory", out)


if __name__ == "__main__":
    mode = sys.argv.pop(1) if len(sys.argv) > 1 else ""
    if mode not in ("package", "installed"):
        sys.exit("usage: packaging_test.py package|installed")
    tests = (PackageTest, DocumentationTest) if mode == "package" else (InstalledTest,)
    suite = unittest.TestSuite(unittest.defaultTestLoader.loadTestsFromTestCase(t) for t in tests)
    sys.exit(0 if unittest.TextTestRunner(verbosity=2).run(suite).wasSuccessful() else 1)
