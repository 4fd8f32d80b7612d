"""End-to-end tests: the real editor under Xvfb, driven with clicks and keys.

Each test starts the program in a scratch home, uses it as a person would,
and checks what that person could: the saved morvrc bytes, the exit status,
the console and the run log.  MORV_EDITOR names the binary under test,
MORV_RUNNER the emulator (for i386) and MORV_TIME_BYTES its time width.
"""

import os
import re
import shutil
import stat
import struct
import subprocess
import tempfile
import time
import unittest

from editor_session import (EDITOR, ORDINARY_UID, RUNNER, SLOW, TITLE, TOOL, Editor, FIELDS,
                            RUN_LOG, TIME_BYTES, as_ordinary_user, image, values)

# The setting each catalogue row edits.
ROW_SETTING = {n + 1: FIELDS[n][0] for n in range(19)}
ROW_SETTING.update({
    20: ("psFlagChanJoinBeep", 0), 21: ("psFlagChanJoinBeep", 1),
    22: ("psFlagChanModBeep", 0), 23: ("psFlagChanModBeep", 1),
    24: ("psFlagChanWordBeep", 0), 25: ("psFlagChanWordBeep", 1),
    26: "psPrefixOutput", 27: "psPostfixOutput", 28: "iFlagIgnoreMessage", 29: "iFlagMorvMessage",
    30: "iFlagLocalUserModeChg", 31: "iFlagDebugModeFnc", 32: "iFlagEnableDatabase",
    33: "iFlagEnableEvent", 34: "psMessageLanguage", 35: "psAwayPostfix", 36: "iFlagAwaySystem",
    37: "psPipeCommand", 38: "psAudioDevice", 39: "iMaxMessageChar", 40: "psIdentifyCommand",
    41: "iFlagErrorMessage", 42: "iFlagDisableDBUpdating", 43: "iFlagMonitoringMessage",
    44: "iFlagAwayMessage", 45: "iFlagCurrentTab", 46: "iFlagTextFloodError",
    47: "iFlagBadWordSystem", 48: "iFlagBadWordMessage", 68: "iFlagEventsManagerDebug",
    69: "iFlagTextFloodIncoming", 70: "iFlagAdvancedLog", 71: "iPrivateKillerAlert",
    72: "iFlagFilterSystem", 73: "iPrivateKillerMessage", 74: "iFlagKeepQueueCommandCorrupted",
    75: "iPKIgnoreCTCPVersion", 76: "iPKAllowOnTimeout", 77: "iFlagDisableSHBM",
})
ROW_SETTING.update({49 + k: ("iFlagParserMode", k) for k in range(19)})

STARTUP_LOG = [
    "main()", "main() :Set HOME", "main() :Set X-Chat Path", "main() :Check X-Chat",
    "main() :Load ITA File", "main() :Load morvrc", "main() :SetVariables()",
    "main() :Load LANG File", "main() :Load DAT File", "main() :Set Window Data Version",
    "main() :Data Read Loop", "main() :Data Read End", "main() :Close Data",
    "main() :Enable ListBox",
]


def log_messages(log):
    """The messages of the run-log lines, without pid and seconds."""
    return [line.split(" : ", 1)[1] for line in log.splitlines() if " : " in line]


def shown_values(log):
    """The Current column of each list line the start-up logged, by variable name."""
    rows = [m.split(" | ") for m in log_messages(log) if m.count(" | ") == 3]
    return {r[1].strip(): r[3] for r in rows}


RC = ".xchat2/morvane/morvrc"
OTHER_TIME_BYTES = 12 - TIME_BYTES
# Where the first text pair begins, after 13 ints, three times and three ints.
FIRST_PAIR_AT = 4 + 13 * 4 + 3 * TIME_BYTES + 3 * 4


class EditorTest(unittest.TestCase):

    def setUp(self):
        if os.path.lexists(RUN_LOG):
            os.unlink(RUN_LOG)
        self.editors = []

    def tearDown(self):
        for e in self.editors:
            e.close()
        if os.path.lexists(RUN_LOG):
            os.unlink(RUN_LOG)

    def editor(self, **kw):
        e = Editor(self._testMethodName, **kw)
        self.editors.append(e)
        return e

    def started(self, **kw):
        """An editor on a saved default configuration, at its main window."""
        kw.setdefault("morvrc", image(values()))
        e = self.editor(**kw)
        e.start()
        e.wait_main()
        return e

    def assertImage(self, want, got):
        if want != got:
            self.fail("morvrc differs at byte %d (want %d bytes, got %d)\nwant %s\ngot  %s" % (
                next((i for i, (a, b) in enumerate(zip(want, got)) if a != b), min(len(want), len(got))),
                len(want), len(got), want.hex(), got.hex()))

    # -- start-up -------------------------------------------------------

    def test_first_start_warns_then_runs_and_keeps_its_edits(self):
        e = self.editor()
        e.start()
        e.answer("Return")  # no morvrc yet: the attention box
        e.wait_main()
        e.screenshot("main")
        log = log_messages(Editor.run_log())
        self.assertEqual(STARTUP_LOG[:7], log[:7])
        self.assertEqual(["SetVariables()", "SetVariables() : Referencing"], log[7:9])
        tail = [m for m in log if m.startswith("main() :") and m not in STARTUP_LOG[:7]]
        self.assertEqual(STARTUP_LOG[7:], [m for m in tail if m in STARTUP_LOG])
        self.assertEqual(77, log.count("main() :Insert Data in ListBox"))
        # morvrc_tool lists the same home line for line: the row number,
        # then the row text that the editor logged as it listed it.
        listed = subprocess.run(RUNNER + [TOOL, "list", "--home", e.home], capture_output=True)
        self.assertEqual(0, listed.returncode, listed.stderr)
        self.assertEqual(["%3d %s" % (n, text) for n, text in
                          enumerate((m for m in log if m.count(" | ") == 3), start=1)],
                         listed.stdout.decode("latin-1").splitlines())
        self.assertTrue(all(line.split(" : ")[0].endswith("_00000") or line.split(" : ")[0][-6] == "_"
                            for line in Editor.run_log().splitlines() if " : " in line))
        self.assertEqual(
            "\nCheck the .xchat2/morvane/ directory in the current path ...\n"
            "... done !\n"
            "Load the Italian Messages File ...\n"
            "  - Initializing Memory Map File.\n"
            "  - Calculating Language File Path.\n"
            "  - Parsing Language File .... completed.\n"
            "... done !\n"
            "Load the .xchat2/morvane/morvrc configuration file, if this exist ...\n"
            "... done !\n"
            "Load the .xchat2/morvane/setup.dat file ...\n"
            "... done !\n"
            "Run the Graphic User Interface.\n", e.stdout())

        # No file was read: another program's file is judged against what
        # the window showed, the initial values.  Only the last setting is
        # edited, and that file comes while a question waits.
        kept = lambda n: e.stdout().count("The %s configuration file was changed by another program: "
                                          "your unsaved changes are kept.\n" % RC) == n
        marked = lambda: e.title() == "*" + TITLE + " [changed on disk]"
        e.key("End")                 # row 77
        e.on()                       # iFlagDisableSHBM, now its default
        self.assertEqual("*" + TITLE, e.title())
        e.reset_button()
        e.wait_box()
        e.write_rc(image(values(iMaxCloneCount=5)))
        time.sleep(1)
        e.answer("Escape")           # "No": the file is looked at now
        e.wait_for(lambda: kept(1) and marked(), "the first run's edit kept")

        e.key("ctrl+f")
        e.type_in_box("CLONI")       # row 7, by its help text
        e.double_click(50)           # row 7, at the top of the list now
        e.type_in_box("5000")
        e.answer("Return")           # refused: out of range
        e.key("F3")                  # row 71, the next with the word
        e.click(250, 302)            # the counter
        e.key("Return")
        e.type_in_box(" 4000 ")
        e.click(300, 50)             # back in the list
        e.key("Home")
        e.type("var3")               # row 3
        e.off()
        e.click(300, 50)
        e.key("Home", "Page_Down")   # a page down from row 1: row 13
        e.off()
        e.write_rc(image(values(iMaxCloneCount=6)))
        e.wait_for(lambda: kept(2), "the edits kept again")
        log = log_messages(Editor.run_log())
        for line in ("MoveSelection()", "FindVariable()", "FindNextVariable()", "TypeNumber()",
                     "TypeVariableName()"):
            self.assertIn(line, log)

        # Overwrite names what it overwrites: changed again while the
        # question is open, the question is asked again.
        e.save_button()
        e.answer("Return")           # "Are you sure ?" Yes
        e.wait_box()
        theirs = image(values(iMaxCloneCount=7, psAwayPostfix="-3rd"))
        e.write_rc(theirs)
        e.answer("Return")           # "Overwrite": asked again
        e.answer("Return")           # "Overwrite"
        e.answer("Return")           # "File ... successfully saved."
        asked = e.stdout().split("do you want to overwrite it ?\n")
        self.assertEqual(3, len(asked))
        self.assertIn("iMaxCloneCount: 6 -> 10", asked[1].splitlines()[:10])
        self.assertNotIn("psAwayPostfix", asked[1])
        for line in ("iMaxCloneCount: 7 -> 10", 'psAwayPostfix: "-3rd" -> "_AWAY"'):
            self.assertIn(line, asked[2].splitlines()[:10])
        mine = image(values(iFlagDisableSHBM=1, iPrivateKillerAlert=4000, iFlagCloneDetect=0,
                            iFlagCTCPAnswer=0))
        self.assertImage(mine, e.read_rc())
        folder = os.path.join(e.home, ".local", "state", "morvane", "history",
                              os.path.realpath(e.rc).replace("!", "!!").replace("/", "!"))
        with open(os.path.join(folder, max(os.listdir(folder))), "rb") as f:
            self.assertEqual(theirs, f.read(), "the bytes overwritten were those asked about")
        self.assertEqual(TITLE, e.title())

        # The same after a Load from Disk that found no file.
        os.unlink(e.rc)
        e.wait_for(lambda: "configuration file was removed by another program" in e.stdout(),
                   "the removal told")
        e.load_button()
        e.answer("Return")           # "ATTENTION: are you sure ?" Yes
        e.answer("Return")           # "Unable to open ...": the values stay
        e.select_row(1)
        e.on()
        theirs = image(values(iMaxCloneCount=8))
        e.write_rc(theirs)
        e.wait_for(lambda: kept(3) and marked(), "the edit after a load without a file kept")
        e.exit_button()
        e.answer("shift+Tab", "space")   # "Exit without saving"
        self.assertEqual(0, e.wait_exit())
        self.assertIsNone(Editor.run_log(), "Exit removes the run log")
        self.assertEqual(theirs, e.read_rc())

    def test_exit_statuses_of_failed_starts(self):
        # No script directory: alert, then status 1.
        e = self.editor()
        shutil.rmtree(os.path.join(e.home, ".xchat2"))
        e.start()
        e.answer("Return")
        self.assertEqual(1, e.wait_exit())
        self.assertIn("\nCheck the .xchat2/morvane/ directory in the current path ...\n", e.stdout())

        # No setup.dat: alert, console line, status 1.
        e = self.editor(setup_dat=False, morvrc=image(values()))
        e.start()
        e.answer("Return")
        self.assertEqual(1, e.wait_exit())
        self.assertTrue(e.stdout().endswith(
            "Load the .xchat2/morvane/setup.dat file ...\n... ops, file don't found !\n"), e.stdout())

        # A bad type code: the rows before it were listed, then status 2.
        e = self.editor(setup_dat="0 | /A | a | 0 | - | 1\n7 | /B | b | 0 | - | 1\n",
                        morvrc=image(values()))
        e.start()
        self.assertEqual(2, e.wait_exit())
        self.assertTrue(e.stdout().endswith(
            "OOPS, emmo' qui c'e' lo scaZZo peso... sOb, mi tocca abortire 8__(\n"), e.stdout())
        self.assertIn(" : main() :Insert Data in ListBox\n", Editor.run_log())

    @unittest.skipUnless(shutil.which("strace"), "strace is not installed")
    def test_setup_dat_that_fails_to_open_after_the_probe_ends_with_125(self):
        e = self.editor(morvrc=image(values()))
        # The probe opens setup.dat once; the second open is made to fail.
        e.start(prefix=["strace", "-f", "-o", "/dev/null", "-P", ".xchat2/morvane/setup.dat",
                        "-e", "trace=openat", "-e", "inject=openat:error=EACCES:when=2"])
        self.assertEqual(125, e.wait_exit(timeout=30))
        self.assertTrue(e.stdout().endswith("Load the .xchat2/morvane/setup.dat file ...\n"), e.stdout())
        self.assertFalse(e.stdout().endswith("found !\n"))

    def test_xchat1_is_chosen_from_the_program_path(self):
        e = self.editor(xchat_dir=".xchat/morvane", morvrc=image(values()))
        program = os.path.join(e.home, ".xchat", "morvane", "setup")
        shutil.copy(EDITOR, program)
        e.start(program=program)
        e.wait_main()
        e.select_row(1)
        e.on()
        e.save_button()
        e.answer("Return")
        e.answer("Return")
        self.assertImage(image(values(iFlagDebugMode=1)), e.read_rc())
        e.key("q")
        self.assertEqual(0, e.wait_exit())
        self.assertIn("\nCheck the .xchat/morvane/ directory in the current path ...\n", e.stdout())

    def test_without_home_the_current_directory_serves(self):
        e = self.editor(morvrc=image(values()))
        e.start_x()
        e.start(env_changes={"HOME": None}, cwd=e.home)
        e.answer("Return")  # SYSTEM ERROR: Cannot change current directory.
        e.wait_main()
        e.key("q")
        self.assertEqual(0, e.wait_exit())

    def test_configured_language_is_loaded_over_italian(self):
        e = self.editor(morvrc=image(values(psMessageLanguage="english")))
        with open(os.path.join(e.dir, "morv_english.msg"), "w") as f:
            f.write("// 5001 \"Help of row one\"\n")
        e.start()
        e.wait_main()
        self.assertIn("Load the english Messages File ...\n  - Calculating Language File Path.\n"
                      "  - Parsing Language File .... completed.\n... done !\n", e.stdout())
        e.key("q")
        self.assertEqual(0, e.wait_exit())

        # A language without a file: alert, and the Italian texts serve.
        e = self.editor(morvrc=image(values(psMessageLanguage="klingon")))
        e.start()
        e.answer("Return")
        e.wait_main()
        e.key("q")
        self.assertEqual(0, e.wait_exit())
        self.assertIn("ERROR: Unable to load file .xchat2/morvane/morv_klingon.msg; reason: "
                      "No such file or directory\n... ops, file don't found !\n", e.stdout())

        # Italian in capitals is Italian: no second file is looked for.
        e = self.editor(morvrc=image(values(psMessageLanguage="ITALIANO")))
        e.start()
        e.wait_main()
        e.key("q")
        self.assertEqual(0, e.wait_exit())
        self.assertNotIn("ITALIANO", e.stdout())

    # -- editing and saving ---------------------------------------------

    def test_each_kind_of_value_edited_and_saved(self):
        e = self.started()
        e.select_row(1)
        e.on()
        e.select_row(7)
        e.counter_up()
        e.counter_up()
        e.select_row(26)
        e.set_text("hello  world")
        e.select_row(38)
        e.set_text("")               # emptied: the text becomes absent
        e.screenshot("edited")
        e.save_button()
        e.answer("Return")           # "Are you sure ?" Yes
        e.answer("Return")           # "File ... successfully saved." Close
        self.assertImage(image(values(iFlagDebugMode=1, iMaxCloneCount=12,
                                      psPrefixOutput="hello  world", psAudioDevice=None)),
                         e.read_rc())
        log = log_messages(Editor.run_log())
        for line in ("listbox_VariablesSelected()", "radiobutton_ONSelected()",
                     "textinput_NumericValueSelected()", "textinput_TextValueSelected()",
                     "SaveToDisk()"):
            self.assertIn(line, log)
        e.key("q")                   # saved: no question
        self.assertEqual(0, e.wait_exit())

    def test_declined_save_writes_nothing(self):
        e = self.started()
        before = e.read_rc()
        e.select_row(3)
        e.off()
        e.save_button()
        e.answer("Escape")           # "No"
        self.assertEqual(before, e.read_rc())
        e.exit_button()              # still modified: the question comes
        e.answer("shift+Tab", "space")  # "Exit without saving"
        self.assertEqual(0, e.wait_exit())
        self.assertEqual(before, e.read_rc())

    def test_reset_restores_catalogue_defaults(self):
        start = image(values(iMaxCloneCount=3, psFlagChanJoinBeep=("#a", "b.wav"), psPostfixOutput="x"))
        e = self.started(morvrc=start)
        # One row by its menu, whose first item resets it; a pair, both of
        # its rows, by the key.
        e.row_menu(50 + 6 * 17)      # row 7
        e.key("Return")
        e.select_row(21)
        e.key("Delete")
        e.save_button()
        e.answer("Return")
        e.answer("Return")
        self.assertImage(image(values(iMaxCloneCount=20, psPostfixOutput="x")), e.read_rc())
        log = log_messages(Editor.run_log())
        self.assertEqual(["RowMenu()", "listbox_VariablesSelected()", "ResetRow()"],
                         log[log.index("RowMenu()"):log.index("RowMenu()") + 3])
        self.assertEqual(2, log.count("ResetRow()"))

        e.reset_button()
        e.answer("Return")
        e.save_button()
        e.answer("Return")
        e.answer("Return")
        want = values()
        for row, setting in ROW_SETTING.items():
            if isinstance(setting, tuple):
                name, k = setting
                if name == "iFlagParserMode":
                    want[name] = list(want[name])
                    want[name][k] = row % 2
                continue
            if FIELDS[[f[0] for f in FIELDS].index(setting)][1] in "it":
                want[setting] = {7: 20, 14: 30, 16: 60, 18: 90}.get(row, row % 2)
        want.update(psFlagChanJoinBeep=(None, None), psFlagChanModBeep=(None, None),
                    psFlagChanWordBeep=(None, None), psPrefixOutput=">> ", psPostfixOutput=" ",
                    psMessageLanguage="italiano", psAwayPostfix="_AWAY", psPipeCommand="/ECHO ",
                    psAudioDevice="ALSA", psIdentifyCommand="/MSG NickServ Identify")
        self.assertImage(image(want), e.read_rc())
        # morvrc_tool's reset --all turns the same start into the same bytes.
        copy = os.path.join(e.home, "morvrc-copy")
        with open(copy, "wb") as f:
            f.write(start)
        reset = subprocess.run(RUNNER + [TOOL, "reset", "--all", "--home", e.home, copy],
                               capture_output=True)
        self.assertEqual(0, reset.returncode, reset.stderr)
        with open(copy, "rb") as f:
            self.assertImage(e.read_rc(), f.read())

    def test_load_takes_the_file_as_changed_on_disk_and_says_what_it_found(self):
        # Damaged in text [1] of the first pair: what comes before it is shown.
        damaged = bytearray(image(values(iMaxCloneCount=42, psFlagChanJoinBeep=("#a", "b"))))
        damaged[FIRST_PAIR_AT + 6:FIRST_PAIR_AT + 10] = struct.pack("<i", -1)
        # A whole version is kept first, as the tool's save keeps it.
        e = self.editor(morvrc=image(values(iMaxCloneCount=41)))
        tool_env = dict(os.environ, HOME=e.home)
        subprocess.run(RUNNER + [TOOL, "set", e.rc, "iMaxCloneCount", "40"], env=tool_env, check=True,
                       capture_output=True)
        e.write_rc(bytes(damaged))
        e.start()
        # The damage alert, with the way back, fits a screen 800 pixels wide.
        geometry = e.xdo("getwindowgeometry", e.wait_box())
        self.assertLessEqual(int(re.search(r"Geometry: (\d+)x", geometry).group(1)), 800, geometry)
        e.answer("Return")
        e.wait_main()
        self.assertIn("Load the %s configuration file, if this exist ...\n"
                      "ATTENTION: %s is damaged at byte %d (psFlagChanJoinBeep[1]): the settings from "
                      "there on were not read; the last whole version kept is 1, from "
                      % (RC, RC, FIRST_PAIR_AT + 6), e.stdout())
        restore = re.search(r" \(morvrc_tool set\): (morvrc_tool restore 1 (\S+))\n", e.stdout())
        self.assertEqual(os.path.join(e.home, RC), restore.group(2))
        shown = shown_values(Editor.run_log())
        self.assertEqual(("42", "(null)", "1"), (shown["Var7"], shown["Var20"], shown["Var3"]))
        e.select_row(7)
        e.counter_up()

        # Each reload says what it found.
        for content, said in ((struct.pack("<i", 13) + bytes(damaged[4:]),
                               "ATTENTION: %s was not read: it is empty or older than version 14; the "
                               "last whole version kept is 1, from "),
                              (None, "ATTENTION: Unable to open %s configuration file. The variables "
                                     "keep their current values.\n")):
            if content is None:
                os.unlink(e.rc)
            else:
                e.write_rc(content)
            e.load_button()
            e.answer("Return")       # "ATTENTION: are you sure ?" Yes
            e.answer("Return")       # the alert
            self.assertIn(said % RC, e.stdout())

        changed = image(values(iMaxCloneCount=77, psAwayPostfix="-gone", iFlagParserMode=[0] * 19))
        e.write_rc(changed)
        e.load_button()
        e.answer("Return")           # "ATTENTION: are you sure ?" Yes
        e.answer("Return")           # "File ... successfully loaded."
        e.exit_button()              # a load counts as a change
        e.answer("Return")           # "Save"
        self.assertEqual(0, e.wait_exit())
        self.assertImage(changed, e.read_rc())
        # The way back works from any directory, as it was given.
        subprocess.run(RUNNER + [TOOL] + restore.group(1).split()[1:], env=tool_env, cwd="/",
                       check=True, capture_output=True)
        self.assertImage(image(values(iMaxCloneCount=41)), e.read_rc())

    def test_empty_file_or_fifo_at_start_is_told_and_left_alone(self):
        e = self.editor(morvrc=b"")
        e.start()
        e.answer("Return")
        e.wait_main()
        e.key("q")
        self.assertEqual(0, e.wait_exit())
        self.assertIn("ATTENTION: %s was not read: it is empty or older than version 14.\n... done !\n"
                      % RC, e.stdout())
        self.assertEqual(b"", e.read_rc())

        # A FIFO is not read (nobody would ever write to it): there but
        # unreadable, so a save asks before it replaces it.
        e = self.editor()
        os.mkfifo(e.rc)
        e.start()
        e.answer("Return")           # "Unable to read ... set to default value."
        e.wait_main()
        e.select_row(1)
        e.on()
        e.save_button()
        e.answer("Return")           # "Are you sure ?": "Yes"
        e.answer("Escape")           # "... exists but could not be read ...": "Cancel"
        e.exit_button()
        e.answer("shift+Tab", "space")   # "Exit without saving"
        self.assertEqual(0, e.wait_exit())
        self.assertTrue(stat.S_ISFIFO(os.lstat(e.rc).st_mode))
        self.assertIn("ATTENTION: Unable to read %s configuration file (not a regular file). All "
                      "variables will be set to default value.\n" % RC, e.stdout())

    def test_other_width_or_newer_version_is_saved_in_its_own_form(self):
        e = self.started(morvrc=image(values(tCTCPFloodTimer=30), time_bytes=OTHER_TIME_BYTES))
        self.assertIn("The %s configuration file has %d-bit time fields: it is read and saved with "
                      "them.\n" % (RC, OTHER_TIME_BYTES * 8), e.stdout())
        e.select_row(14)
        e.counter_up()
        e.save_button()
        e.answer("Return")
        e.answer("Return")
        self.assertImage(image(values(tCTCPFloodTimer=31), time_bytes=OTHER_TIME_BYTES), e.read_rc())
        e.key("q")
        self.assertEqual(0, e.wait_exit())

        tail = struct.pack("<i", 5) + b"newer" + struct.pack("<i", 9)
        e = self.started(morvrc=image(values(), version=40) + tail)
        self.assertIn("The %s configuration file is of version 40: the 13 bytes after the settings "
                      "this editor knows are kept as they are.\n" % RC, e.stdout())
        e.select_row(1)
        e.on()
        e.exit_button()
        e.answer("Return")           # "Save"
        self.assertEqual(0, e.wait_exit())
        self.assertImage(image(values(iFlagDebugMode=1), version=40) + tail, e.read_rc())

    def test_file_changed_by_another_program_is_not_overwritten_unasked(self):
        e = self.started()
        theirs = image(values(iMaxCloneCount=5))
        e.select_row(1)
        e.on()
        e.write_rc(theirs)
        e.save_button()
        e.answer("Return")           # "Are you sure ?" Yes
        e.answer("Escape")           # changed by another program: "Cancel"
        self.assertEqual(theirs, e.read_rc())
        e.save_button()
        e.answer("Return")
        e.answer("Return")           # "Overwrite"
        e.answer("Return")           # "File ... successfully saved."
        self.assertImage(image(values(iFlagDebugMode=1)), e.read_rc())
        # The bytes overwritten were kept first, as the newest version.
        folder = os.path.join(e.home, ".local", "state", "morvane", "history",
                              os.path.realpath(e.rc).replace("!", "!!").replace("/", "!"))
        newest = max(os.listdir(folder))
        self.assertTrue(newest.endswith(",morvane_setup,save"), newest)
        with open(os.path.join(folder, newest), "rb") as f:
            self.assertEqual(theirs, f.read())

        # Touched without a change of bytes: no question.
        os.utime(e.rc, (1000000, 1000000))
        e.select_row(2)
        e.on()
        e.save_button()
        e.answer("Return")
        e.answer("Return")           # "File ... successfully saved."
        mine = image(values(iFlagDebugMode=1, iFlagLogFile=1))
        self.assertImage(mine, e.read_rc())

        # The same question on the way out.
        e.select_row(3)
        e.off()
        e.write_rc(theirs)
        e.exit_button()
        e.answer("Return")           # "Save"
        e.answer("Escape")           # "Cancel": the editor stays
        self.assertTrue(e.running())
        self.assertEqual(theirs, e.read_rc())
        e.exit_button()
        e.answer("Return")           # "Save"
        e.answer("Return")           # "Overwrite"
        self.assertEqual(0, e.wait_exit())
        self.assertImage(image(values(iFlagDebugMode=1, iFlagLogFile=1, iFlagCloneDetect=0)),
                         e.read_rc())

    @unittest.skipUnless(TIME_BYTES == 8, "followed once, on the 64-bit program")
    def test_file_rewritten_while_open_is_followed_without_losing_unsaved_work(self):
        e = self.started()
        said = lambda: e.stdout().count("The %s configuration file was changed by another program: "
                                        "its settings are shown again.\n" % RC)
        marked = lambda: TITLE + " [changed on disk]" in e.windows().values()
        e.select_row(35)
        e.write_rc(image(values(iMaxCloneCount=77, psAwayPostfix="-seen")))
        e.wait_for(lambda: said() == 1, "the console line of a file shown again")
        # The selection stays on row 35 and its field shows the new text; typed, not yet taken.
        e.click(600, 302)
        e.key("End")
        e.type("x")

        e.write_rc(image(values(iMaxCloneCount=77, psAwayPostfix="-gone", iFlagParserMode=[0] * 19)))
        e.wait_for(lambda: "The %s configuration file was changed by another program: your unsaved "
                           "changes are kept.\n" % RC in e.stdout(), "the console line of kept changes")
        self.assertTrue(marked())
        e.key("Tab")
        e.save_button()
        e.answer("Return")           # "Are you sure ?" Yes
        e.answer("Return")           # changed on disk: "Overwrite"
        e.answer("Return")           # "File ... successfully saved."
        asked = e.stdout().split("do you want to overwrite it ?\n", 1)[1].splitlines()
        self.assertEqual(['psAwayPostfix: "-gone" -> "-seenx"'] +
                         ["iFlagParserMode[%s]: 0 -> 1" % m for m in
                          ("PRIVMSG", "JOIN", "LUJOIN", "CHNICK", "CLIST", "SRVMSG", "PART", "KICK",
                           "MODE")], asked[:10])
        self.assertNotIn(" -> ", "".join(asked[10:11]))
        self.assertImage(image(values(iMaxCloneCount=77, psAwayPostfix="-seenx")), e.read_rc())
        self.assertFalse(marked())

        # A writer that pauses 2.6 s mid-file: told once, never shown, then read whole.
        rewritten = image(values(iMaxCloneCount=5))
        with open(e.rc, "wb") as f:
            f.write(rewritten[:40])
            f.flush()
            time.sleep(2.6)
            f.write(rewritten[40:])
        e.wait_for(lambda: said() == 2, "the console line of the rewritten file")
        self.assertEqual(1, e.stdout().count("The %s configuration file on disk is damaged (" % RC))
        self.assertNotIn("ATTENTION", e.stdout())

        # After a load, a change on disk is shown, not taken for unsaved work.
        e.load_button()
        e.answer("Return")           # "ATTENTION: are you sure ?" Yes
        e.answer("Return")           # "File ... successfully loaded."
        subprocess.run(RUNNER + [TOOL, "set", e.rc, "iMaxCloneCount", "6"], check=True)
        e.wait_for(lambda: said() == 3, "the file set after a load shown")

        # Pointed at a file in another directory, then changed there.
        dotfiles = os.path.join(e.home, "dotfiles")
        os.mkdir(dotfiles)
        with open(os.path.join(dotfiles, "morvrc"), "wb") as f:
            f.write(image(values(iMaxCloneCount=7)))
        os.symlink(os.path.join(dotfiles, "morvrc"), e.rc + ".new")
        os.rename(e.rc + ".new", e.rc)
        e.wait_for(lambda: said() == 4, "the linked file shown")
        subprocess.run(RUNNER + [TOOL, "set", os.path.join(dotfiles, "morvrc"), "iMaxCloneCount", "8"],
                       check=True)
        e.wait_for(lambda: said() == 5, "the file changed through the link's target shown")

        # The directory removed, then restored with a new file.
        shutil.rmtree(e.dir)
        e.wait_for(lambda: "configuration file was removed by another program" in e.stdout(),
                   "the removal told")
        os.mkdir(e.dir)
        last = image(values(iMaxCloneCount=9))
        e.write_rc(last)
        e.wait_for(lambda: said() == 6, "the restored file shown")
        self.assertFalse(marked())
        self.assertEqual(9, log_messages(Editor.run_log()).count("FileChanged()"))
        e.key("q")                   # nothing unsaved: no question
        self.assertEqual(0, e.wait_exit())
        self.assertImage(last, e.read_rc())

    def test_exit_question_cancel_keeps_editing(self):
        e = self.started()
        saved = e.read_rc()
        e.select_row(1)
        e.on()
        e.exit_button()
        e.answer("Escape")           # "Cancel"
        self.assertTrue(e.running())
        self.assertIsNone(Editor.run_log(), "the run log is removed before the question")

        # One text of a pair: neither a save nor the exit question's "Save"
        # writes it, and the editor stays open.
        e.select_row(20)
        e.set_text("#chan")
        e.save_button()
        e.answer("Return")           # the alert
        e.exit_button()
        e.answer("Return")           # "Save"
        e.answer("Return")           # the alert again
        self.assertTrue(e.running())
        self.assertEqual(saved, e.read_rc())
        self.assertEqual(2, e.stdout().count(
            "ATTENTION: the configuration was not saved: Var20 and Var21 must both hold a text, or "
            "both be empty.\n"))

        e.select_row(21)
        e.set_text("beep")
        e.select_row(2)
        e.on()
        e.exit_button()
        e.answer("Return")           # "Save"
        self.assertEqual(0, e.wait_exit())
        self.assertImage(image(values(iFlagDebugMode=1, iFlagLogFile=1,
                                      psFlagChanJoinBeep=("#chan", "beep"))), e.read_rc())

    def test_escape_and_close_box_take_the_exit_road(self):
        e = self.started()
        e.key("Escape")              # nothing changed: ends at once
        self.assertEqual(0, e.wait_exit())

        e = self.started()
        e.select_row(26)
        e.click(600, 302)
        e.type("typed, not yet left")
        e.key("Escape")              # the typed text counts as a change
        e.answer("Escape")           # "Cancel"
        self.assertTrue(e.running())
        e.close_request()            # the window manager's close box
        e.answer("Return")           # "Save"
        self.assertEqual(0, e.wait_exit())
        self.assertImage(image(values(psPrefixOutput="typed, not yet left")), e.read_rc())

    def test_directory_without_new_files_has_morvrc_rewritten_in_place(self):
        old = image(values())
        e = self.editor(morvrc=old)
        os.chmod(e.home, 0o755)
        for d in (os.path.join(e.home, ".xchat2"), e.dir):
            os.chmod(d, 0o755)
        os.chmod(e.dir, 0o555)       # the directory cannot take a new file
        if os.geteuid() == 0:
            # Root writes anywhere: run the editor as an ordinary user, who
            # owns morvrc but not its directory.
            os.chmod(e.dir, 0o755)
            os.chown(e.rc, ORDINARY_UID, ORDINARY_UID)
        e.start(preexec_fn=as_ordinary_user())
        e.wait_main()
        e.select_row(1)
        e.on()
        e.save_button()
        e.answer("Return")           # "Are you sure ?" Yes
        e.answer("Return")           # "successfully saved", Close
        e.key("q")                   # nothing unsaved: no question
        self.assertEqual(0, e.wait_exit())
        self.assertImage(image(values(iFlagDebugMode=1)), e.read_rc())
        self.assertEqual(["morv_italiano.msg", "morvrc", "setup.dat"], sorted(os.listdir(e.dir)))
        self.assertIn("The .xchat2/morvane/morvrc configuration file was rewritten in place: its "
                      "directory takes no new file.\n", e.stdout())

    def test_full_disk_during_save_keeps_the_old_file(self):
        old = image(values(psIdentifyCommand="/MSG NickServ Identify " + "x" * 20000))
        e = self.editor()
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", e.dir],
                          stderr=subprocess.DEVNULL).returncode != 0:
            self.skipTest("no tmpfs can be mounted here")
        try:
            e.write_data()
            e.write_rc(old)
            # Leave less room than a second copy of the file needs.
            st = os.statvfs(e.dir)
            with open(os.path.join(e.dir, "filler"), "wb") as f:
                f.write(b"\0" * (st.f_bavail * st.f_frsize - 8192))
            e.start()
            e.wait_main()
            e.select_row(1)
            e.on()
            e.save_button()
            e.answer("Return")           # "Are you sure ?" Yes
            e.answer("Return")           # the alert, Close
            self.assertTrue(e.running())
            self.assertEqual(old, e.read_rc())
            self.assertEqual(["filler", "morv_italiano.msg", "morvrc", "setup.dat"],
                             sorted(os.listdir(e.dir)))
            e.key("q")                   # still unsaved: the question comes
            e.answer("shift+Tab", "space")
            self.assertEqual(0, e.wait_exit())
            self.assertIn("(No space left on device).", e.stdout())
        finally:
            e.close_editor()
            subprocess.run(["umount", e.dir])

    def test_read_only_morvrc_is_not_replaced(self):
        old = image(values())
        e = self.editor(morvrc=old)
        os.chmod(e.rc, 0o444)
        if os.geteuid() == 0:
            # Root may write any file; the refusal is an ordinary user's.
            for d in (e.home, os.path.join(e.home, ".xchat2"), e.dir):
                os.chmod(d, 0o755)
            os.chown(e.dir, ORDINARY_UID, ORDINARY_UID)
        e.start(preexec_fn=as_ordinary_user())
        e.wait_main()
        e.select_row(1)
        e.on()
        e.exit_button()
        e.answer("Return")               # "Save": refused, so the alert
        e.answer("Return")
        self.assertTrue(e.running())
        self.assertEqual(old, e.read_rc())
        e.exit_button()
        e.answer("shift+Tab", "space")   # "Exit without saving"
        self.assertEqual(0, e.wait_exit())
        self.assertIn("for writing (Permission denied).", e.stdout())

    def test_morvrc_behind_a_link_is_saved_through_it(self):
        e = self.editor()
        real_dir = os.path.join(e.home, "settings")
        os.mkdir(real_dir)
        with open(os.path.join(real_dir, "morvrc"), "wb") as f:
            f.write(image(values()))
        os.symlink("../../settings/morvrc", e.rc)
        e.start()
        e.wait_main()
        e.select_row(3)
        e.off()
        e.save_button()
        e.answer("Return")
        e.answer("Return")
        self.assertTrue(os.path.islink(e.rc))
        with open(os.path.join(real_dir, "morvrc"), "rb") as f:
            self.assertEqual(image(values(iFlagCloneDetect=0)), f.read())

    def test_planted_or_foreign_run_log_is_not_written(self):
        victim = os.path.join(tempfile.mkdtemp(prefix="morv-victim-"), "victim")
        self.addCleanup(shutil.rmtree, os.path.dirname(victim))
        with open(victim, "w") as f:
            f.write("precious\n")
        os.symlink(victim, RUN_LOG)
        e = self.started()
        e.key("q")
        self.assertEqual(0, e.wait_exit())
        with open(victim) as f:
            self.assertEqual("precious\n", f.read())
        self.assertIn("\nImpossibile aprire il file /tmp/morvane_setup.log in scrittura a causa "
                      "dell'errore Too many levels of symbolic links .", e.stdout())

        if os.geteuid() == 0:
            with open(RUN_LOG, "w") as f:
                f.write("someone else's\n")
            os.chown(RUN_LOG, ORDINARY_UID, ORDINARY_UID)
            e = self.started()
            e.key("q")
            self.assertEqual(0, e.wait_exit())
            self.assertIn("\nImpossibile aprire il file /tmp/morvane_setup.log in scrittura",
                          e.stdout())
            self.assertNotIn(" : main()", open(RUN_LOG).read() if os.path.exists(RUN_LOG) else "")

    @unittest.skipUnless(TIME_BYTES == 8, "time values are 32 bits in this build")
    def test_wide_time_values_are_edited_through_their_low_32_bits(self):
        e = self.started(morvrc=image(values(tCTCPFloodTimer=2**32 + 5,
                                             tSoundCommandTimer=2**31 + 7,
                                             tMinSecondSent=2**33)))
        e.select_row(18)             # shows 0, the low half of 2**33
        e.counter_up()
        e.save_button()
        e.answer("Return")
        e.answer("Return")
        # Every save writes the 32-bit copies back, sign-extended.
        self.assertImage(image(values(tCTCPFloodTimer=5, tSoundCommandTimer=7 - 2**31,
                                      tMinSecondSent=1)), e.read_rc())


if __name__ == "__main__":
    unittest.main(verbosity=2)
