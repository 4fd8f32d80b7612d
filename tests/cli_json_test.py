"""morvrc_tool's --json documents read with Python's json module.

Each document must parse, say what the plain output of the same verb says,
and give back every byte of a text: a string is the text's UTF-8, an object
{"bytes": s} a text that is not UTF-8, one byte per character of s.
MORV_TOOL names the tool, MORV_RUNNER how this build starts its programs and
MORV_TIME_BYTES the width of its time values.
"""

import codecs
import json
import os
import re
import shlex
import shutil
import struct
import subprocess
import tempfile
import unittest

TOOL = os.environ.get("MORV_TOOL", "")
RUNNER = shlex.split(os.environ.get("MORV_RUNNER", ""))
TIME_BYTES = int(os.environ.get("MORV_TIME_BYTES", "8"))

# The kinds of fields 2 to 57 in file order: i int32, t time, p text pair,
# s text, a the 19 parser flags.
KINDS = "i" * 13 + "tititi" + "ppp" + "ss" + "i" * 6 + "ssissis" + "i" * 9 + "a" + "i" * 9
EVERY_BYTE = bytes(range(1, 256))

# The setting that each row of the editor's list edits, rows 1 to 77.
EVENTS = ("PRIVMSG JOIN LUJOIN CHNICK CLIST SRVMSG PART KICK MODE NAMES WHO QUIT OSERVER "
          "ENDWHO ERRORLNK ENDMOTD NOTIFY INVITE NOTICE").split()
BINDINGS = (
    "iFlagDebugMode iFlagLogFile iFlagCloneDetect iFlagPrintClone iFlagPrintList iFlagColor "
    "iMaxCloneCount iFlagQueryBeep iFlagNickBeep iFlagDomainMonitoring iFlagNickJoinMonitoring "
    "iMaxQueryMSGFlood iFlagCTCPAnswer tCTCPFloodTimer iFlagBeep tSoundCommandTimer "
    "iMaxMessageSent tMinSecondSent iFlagTextFloodOutgoing psFlagChanJoinBeep[0] "
    "psFlagChanJoinBeep[1] psFlagChanModBeep[0] psFlagChanModBeep[1] psFlagChanWordBeep[0] "
    "psFlagChanWordBeep[1] psPrefixOutput psPostfixOutput iFlagIgnoreMessage iFlagMorvMessage "
    "iFlagLocalUserModeChg iFlagDebugModeFnc iFlagEnableDatabase iFlagEnableEvent "
    "psMessageLanguage psAwayPostfix iFlagAwaySystem psPipeCommand psAudioDevice "
    "iMaxMessageChar psIdentifyCommand iFlagErrorMessage iFlagDisableDBUpdating "
    "iFlagMonitoringMessage iFlagAwayMessage iFlagCurrentTab iFlagTextFloodError "
    "iFlagBadWordSystem iFlagBadWordMessage").split() + [
    "iFlagParserMode[%s]" % e for e in EVENTS] + (
    "iFlagEventsManagerDebug iFlagTextFloodIncoming iFlagAdvancedLog iPrivateKillerAlert "
    "iFlagFilterSystem iPrivateKillerMessage iFlagKeepQueueCommandCorrupted "
    "iPKIgnoreCTCPVersion iPKAllowOnTimeout iFlagDisableSHBM").split()


def text(b):
    return struct.pack("<i", len(b)) + b


def morvrc(texts, pairs=None, ints=None, width=TIME_BYTES):
    """A version-38 file of width-byte time fields (default: this build's):
    int and time field n holds ints.get(n, n), texts and pairs by field
    number (absent when missing)."""
    pairs = pairs or {}
    ints = ints or {}
    out = struct.pack("<i", 38)
    for n, kind in enumerate(KINDS, start=2):
        if kind == "i":
            out += struct.pack("<i", ints.get(n, n))
        elif kind == "t":
            out += struct.pack("<q" if width == 8 else "<i", ints.get(n, -n))
        elif kind == "a":
            out += struct.pack("<19i", *[k % 2 for k in range(19)])
        elif kind == "s":
            out += text(texts[n]) if n in texts else struct.pack("<i", 0)
        else:
            out += text(pairs[n][0]) + text(pairs[n][1]) if n in pairs else struct.pack("<i", 0)
    return out


def catalogue():
    """setup.dat rows 1 to 77 in the order of the bindings; text rows 20 and
    21 without a default text, 26 with "$^$" for a blank."""
    rows = []
    for n in range(1, 78):
        if n in (20, 21, 22, 23, 24, 25, 26, 27, 34, 35, 37, 38, 40):
            default = {26: "[$^$", 34: "italiano", 35: "_AWAY"}.get(n, "$")
            rows.append("2 | /T%d | Text%d | 0 | %s | %d\n" % (n, n, default, 3000 + n))
        else:
            rows.append("%d | /N%d | Number%d | %d | - | %d\n" % (n % 2, n, n, n % 5, 3000 + n))
    return "".join(rows)


def raw(got):
    """The bytes of a text as JSON gives it, or None for null."""
    if isinstance(got, dict):
        assert list(got) == ["bytes"], got
        return got["bytes"].encode("latin-1")
    return None if got is None else got.encode("utf-8")


def unquote(value):
    """The bytes of a text as dump quotes it, or None for absent."""
    if value == "absent":
        return None
    assert value[0] == '"' and value[-1] == '"', value
    return codecs.escape_decode(value[1:-1].encode("ascii"))[0]


class JsonTest(unittest.TestCase):

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="morv-json-")
        self.addCleanup(shutil.rmtree, self.dir)
        self.rc = os.path.join(self.dir, "morvrc")
        # A home without setup.dat: no row names or ranges but those a test gives.
        os.environ["HOME"] = self.dir

    def tool(self, *args, status=0):
        """The plain output of the tool run with args, bytes read as Latin-1."""
        r = subprocess.run(RUNNER + [TOOL] + list(args), capture_output=True)
        self.assertEqual(status, r.returncode, r.stderr.decode("latin-1"))
        return r.stdout.decode("latin-1")

    def doc(self, *args, status=0):
        """The JSON document the tool prints, valid UTF-8 for any reader."""
        r = subprocess.run(RUNNER + [TOOL] + list(args), capture_output=True)
        self.assertEqual(status, r.returncode, r.stderr.decode("latin-1"))
        return json.loads(r.stdout.decode("utf-8"))

    def write(self, path, data):
        with open(path, "wb") as f:
            f.write(data)

    def test_dump_says_what_the_plain_dump_says(self):
        data = morvrc({32: b"english", 33: EVERY_BYTE, 35: b"/ECHO ", 38: b"\t\"\\\n"},
                      pairs={21: (b"#chan", b""), 23: (b"w\xe8", b"x y")})
        self.write(self.rc, data)
        doc = self.doc("dump", "--json", self.rc)
        self.assertEqual({"version": 38, "bytes_after_last_field": 0},
                         {k: v for k, v in doc.items() if k != "settings"})
        plain = [line.split(" = ", 1) for line in self.tool("dump", self.rc).splitlines()[1:]]
        settings = doc["settings"]
        self.assertEqual([name for name, _ in plain], list(settings))
        for name, value in plain:
            got = settings[name]
            if isinstance(got, int):
                self.assertEqual(int(value), got, name)
            else:
                self.assertEqual(unquote(value), raw(got), name)
        self.assertEqual({"bytes": EVERY_BYTE.decode("latin-1")}, settings["psAwayPostfix"])
        self.assertEqual({"bytes": "w\xe8"}, settings["psFlagChanWordBeep[0]"])
        self.assertEqual(("", None), (settings["psFlagChanJoinBeep[1]"], settings["psAudioDevice"]))
        self.assertEqual((-15, 1), (settings["tCTCPFloodTimer"], settings["iFlagParserMode[JOIN]"]))

    def test_get_gives_one_value(self):
        self.write(self.rc, morvrc({33: EVERY_BYTE}))
        self.assertEqual(8, self.doc("get", "--json", self.rc, "iMaxCloneCount"))
        self.assertEqual(EVERY_BYTE, raw(self.doc("get", "--json", self.rc, "psAwayPostfix")))
        self.assertIsNone(self.doc("get", "--json", self.rc, "psPipeCommand"))
        # A pair's two texts are one document.
        self.write(self.rc, morvrc({}, pairs={21: (b"#chan", b"\xc0\xaf")}))
        self.assertEqual(["#chan", {"bytes": "\u00c0\u00af"}],
                         self.doc("get", "--json", self.rc, "psFlagChanJoinBeep"))
        # Beyond U+10FFFF is no character either.
        self.write(self.rc, morvrc({33: b"\xf4\x90\x80\x80"}))
        self.assertEqual({"bytes": "\u00f4\u0090\u0080\u0080"},
                         self.doc("get", "--json", self.rc, "psAwayPostfix"))

    def test_list_rows_and_changed_rows(self):
        home = os.path.join(self.dir, "home")
        script = os.path.join(home, ".xchat2", "morvane")
        os.makedirs(script)
        self.write(os.path.join(script, "setup.dat"), catalogue().encode("ascii"))
        self.write(os.path.join(script, "morvrc"),
                   morvrc({24: b"[ ", 32: b"italiano", 33: b"_AWAY\xff"}, ints={8: 0}))
        rows = self.doc("list", "--json", "--home", home)
        self.assertEqual(list(range(1, 78)), [r["row"] for r in rows])
        self.assertEqual(BINDINGS, [r["setting"] for r in rows])
        self.assertEqual({"row": 7, "type": "numeric", "command": "/N7", "name": "Number7",
                          "setting": "iMaxCloneCount", "default": 2, "value": 0, "help": 3007}, rows[6])
        self.assertEqual(("tCTCPFloodTimer", -15), (rows[13]["setting"], rows[13]["value"]))
        self.assertEqual(("text", None, None), (rows[19]["type"], rows[19]["default"], rows[19]["value"]))
        self.assertEqual(("[ ", "[ "), (rows[25]["default"], rows[25]["value"]))
        self.assertEqual(b"_AWAY\xff", raw(rows[34]["value"]))
        self.assertEqual("iFlagParserMode[NOTICE]", rows[66]["setting"])

        # The plain list shows the same rows, and --changed keeps those
        # whose value is not the default, in either form.
        changed = [r["row"] for r in rows if r["value"] != r["default"]]
        self.assertEqual([7, 8, 35], [n for n in changed if n in (7, 8, 26, 34, 35)])
        plain = self.tool("list", "--changed", "--home", home).splitlines()
        self.assertEqual(changed, [int(line[:3]) for line in plain])
        self.assertEqual(changed, [r["row"] for r in
                                   self.doc("list", "--json", "--changed", "--home", home)])

    def test_diff_lists_the_differences(self):
        other = os.path.join(self.dir, "other")
        self.write(self.rc, morvrc({33: b"_AWAY"}))
        self.write(other, morvrc({33: b"\x80\xfe"}, ints={8: 12}))
        doc = self.doc("diff", "--json", self.rc, other, status=1)
        self.assertEqual({"differences": [{"name": "iMaxCloneCount", "a": 8, "b": 12},
                                          {"name": "psAwayPostfix", "a": "_AWAY", "b": {"bytes": "\x80\xfe"}}],
                          "bytes_after_last_field_differ": False}, doc)
        self.assertEqual({"differences": [], "bytes_after_last_field_differ": False},
                         self.doc("diff", "--json", other, other))

    def test_a_round_trip_through_jq(self):
        """UTF-8 as itself, other bytes as {"bytes": ...}, and everything
        back byte for byte through jq and load --json."""
        self.write(self.rc, morvrc({32: "café".encode(), 33: b"w\xe8 \x01\x1b[1m\n",
                                    35: b"/ECHO "}, pairs={21: (b"#chan", b"")}))
        other = os.path.join(self.dir, "other")
        shutil.copy(self.rc, other)
        dump = subprocess.run(RUNNER + [TOOL, "dump", "--json", self.rc], capture_output=True,
                              check=True).stdout
        jq = subprocess.run(["jq", "-r", ".settings.psMessageLanguage"], input=dump,
                            capture_output=True, check=True)
        self.assertEqual("café\n".encode(), jq.stdout)
        edited = subprocess.run(["jq", ".settings.iMaxCloneCount = 99"], input=dump,
                                capture_output=True, check=True).stdout
        load = subprocess.run(RUNNER + [TOOL, "load", "--json", other], input=edited,
                              capture_output=True)
        self.assertEqual(0, load.returncode, load.stderr)
        with open(other, "rb") as f:
            self.assertEqual(morvrc({32: "café".encode(), 33: b"w\xe8 \x01\x1b[1m\n",
                                     35: b"/ECHO "}, pairs={21: (b"#chan", b"")}, ints={8: 99}),
                             f.read())
        # A surrogate pair is one character; integers in any whole form.
        load = subprocess.run(RUNNER + [TOOL, "load", "--json", other], capture_output=True,
                              input=b'{"settings": {"psAwayPostfix": "\\ud83d\\ude00", '
                                    b'"iMaxCloneCount": 20.0, "iFlagColor": 1e1}}')
        self.assertEqual(0, load.returncode, load.stderr)
        self.assertEqual("\xf0\x9f\x98\x80\n20\n10\n", "".join(
            self.tool("get", "--raw", other, name)
            for name in ("psAwayPostfix", "iMaxCloneCount", "iFlagColor")))
        # A bad document changes nothing and says where.
        for bad, says in ((b'{"settings": {"iMaxCloneCount": "x"}}', b"byte 32"),
                          (b'{"settings": {"psAwayPostfix": {"bytes": "\\u0100"}}}', b"above"),
                          (b'{"settings": {"iMaxCloneCount": 2.5}}', b"expected an integer"),
                          (b'{"settings": {}} x', b"more after the document"),
                          (b'{"settingsX": {}}', b"no \"settings\""),
                          (b'{"version": 38}', b"no \"settings\"")):
            load = subprocess.run(RUNNER + [TOOL, "load", "--json", other], input=bad,
                                  capture_output=True)
            self.assertEqual(2, load.returncode, bad)
            self.assertIn(says, load.stderr)

    def test_damage_check_and_describe(self):
        data = morvrc({33: b"_AWAY"})
        self.write(self.rc, data[:200])
        # What was read before the damage, as the plain dump shows it.
        doc = self.doc("dump", "--json", self.rc, status=4)
        self.assertEqual(list(doc["settings"]), [line.split(" = ")[0] for line in
                                                 self.tool("dump", self.rc, status=4).splitlines()[1:]])
        self.assertIn("does not parse", doc["error"])
        self.write(self.rc, data)
        check = self.doc("check", "--json", self.rc)
        self.assertEqual(("%d-bit" % (TIME_BYTES * 8), TIME_BYTES * 8),
                         (check["verdict"], check["width"]))
        self.assertEqual((True, False) if TIME_BYTES == 4 else (False, True),
                         (check["32"]["parses"], check["64"]["parses"]))
        home = os.path.join(self.dir, "home")
        os.makedirs(os.path.join(home, ".xchat2", "morvane"))
        self.write(os.path.join(home, ".xchat2", "morvane", "setup.dat"),
                   catalogue().encode("ascii"))
        row = self.doc("describe", "--json", "--home", home, "Number7")
        self.assertEqual({"row": 7, "name": "Number7", "setting": "iMaxCloneCount",
                          "type": "numeric", "range": [0, 4096]},
                         {k: v for k, v in row.items() if k != "help"})

    def run_examples(self, lines, tool_word, status=0):
        """Runs each line with bash on a copy of the demo home (HOME), in a
        directory that holds morvrc, old/morvrc and morvrc32, tool_word
        standing for the tool; a comment that is a single word is the output.
        A watch runs until a SIGINT a second later; an editor changes nothing.
        Each line must end with status."""
        source = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
        home = os.path.join(self.dir, "home")
        if not os.path.exists(home):
            shutil.copytree(os.path.join(source, "demo", "home"), home, symlinks=True)
        rc = os.path.join(home, ".xchat2", "morvane", "morvrc")
        bin_dir = os.path.join(self.dir, "bin")
        os.makedirs(os.path.join(self.dir, "old"), exist_ok=True)
        os.makedirs(bin_dir, exist_ok=True)
        with open(os.path.join(bin_dir, "nano"), "w") as f:
            f.write("#!/bin/sh\nexit 0\n")
        os.chmod(os.path.join(bin_dir, "nano"), 0o755)
        env = dict(os.environ, HOME=home, EDITOR="true", VISUAL="", PATH=bin_dir + ":" + os.environ["PATH"],
                   TMPDIR=self.dir,
                   t=" ".join(shlex.quote(w) for w in RUNNER + [TOOL]), rc=rc)
        for line in lines:
            command = line.replace(tool_word, '"${t[@]}" ')
            if line.startswith(tool_word + "watch") and status == 0:
                command = "timeout --preserve-status -s INT 1 " + command
            r = subprocess.run(["bash", "-o", "pipefail", "-c", 'eval "t=($t)"; ' + command],
                               cwd=self.dir, env=env, capture_output=True)
            self.assertEqual(status, r.returncode, "%s\n%s" % (line, r.stderr.decode("latin-1")))
            comment = line.partition("  # ")[2].strip()
            if comment and " " not in comment:
                self.assertEqual(comment, r.stdout.decode().strip(), line)

    def test_every_example_of_the_readme(self):
        """The README's example block, line by line in its order."""
        source = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
        with open(os.path.join(source, "README.md"), encoding="utf-8") as f:
            readme = f.read()
        block = readme.split("\n## morvrc_tool\n")[1].split("```sh\n")[1].split("```")[0]
        lines = [line for line in block.splitlines() if not line.startswith(("t=", "rc="))]
        self.assertGreater(len(lines), 15, block)
        self.run_examples(lines, "$t ")

    def test_every_example_of_the_help_and_the_manual_page(self):
        """The commands that --help, help VERB and the manual page's
        EXAMPLES show, on files made first: the home's morvrc with its
        defaults, a copy in morvrc and old/morvrc, a 32-bit one in morvrc32."""
        source = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
        shown = self.tool("--help")
        for verb in self.tool("--complete").split():
            shown += self.tool("help", verb)
        lines = [line.strip() for line in shown.splitlines() if line.startswith("  morvrc_tool ")]
        with open(os.path.join(source, "man", "morvrc_tool.1"), encoding="utf-8") as f:
            page = f.read().split("\n.SH EXAMPLES\n")[1].split("\n.SH ")[0]
        for block in page.split("\n.EX\n")[1:]:
            text = block.split("\n.EE\n")[0]
            for old, new in (("\\(aq", "'"), ("\\-", "-"), ("\\e\n", " "), ("|\n", "| ")):
                text = text.replace(old, new)
            lines += [" ".join(line.split()) for line in text.splitlines()]
        self.assertGreater(len(lines), 12, lines)
        self.run_examples(["$t reset --all $rc", "cp $rc morvrc", "cp $rc old/morvrc",
                           "$t convert --to 32 $rc morvrc32"], "$t ")
        self.run_examples([line.replace("morvrc_tool ", "$t ") for line in lines], "$t ")

    # A command for each exit status that a help text or the manual page
    # documents, by verb (None: the tool's list of them), run where
    # run_examples runs its lines; $t is the tool.
    STATUS_CASES = {
        ("check", 0): "$t check morvrc",
        ("check", 1): "$t check cut",
        ("dump", 4): "$t dump cut",
        ("convert", 5): "$t convert --to 32 big64 out32",
        ("get", 1): "$t get old14 psAudioDevice",
        ("set", 2): "$t set morvrc iMaxCloneCount ten",
        ("set", 4): "$t set cut iMaxCloneCount 1",
        ("set", 5): "$t set morvrc 'psFlagChanModBeep[0]' '#alone'",
        ("set", 6): "flock morvrc sleep 1 >/dev/null 2>&1 & sleep 0.3; $t set --wait 0.1 morvrc iFlagColor 0",
        ("load", 2): "echo bad | $t load morvrc",
        ("edit", 0): "EDITOR=true $t edit morvrc",
        ("edit", 2): "EDITOR=false $t edit morvrc",
        ("edit", 6): "cp morvrc victim; EDITOR='sh edit6.sh' $t edit victim",
        ("diff", 0): "$t diff morvrc old/morvrc",
        ("diff", 1): "cp morvrc d1 && $t set d1 iMaxCloneCount 3 && $t diff morvrc d1",
        ("diff", 2): "$t diff morvrc missing",
        ("list", 3): "$t list missing",
        ("list", 4): "$t list --home bad",
        ("search", 1): "$t search zzzqqq",
        ("search", 3): "$t search --home empty flood",
        ("describe", 2): "$t describe 999",
        ("describe", 3): "$t describe --home empty 7",
        ("reset", 4): "$t reset cut MaxCloneCount",
        ("reset", 5): "cp morvrc p5 && $t set p5 'psFlagChanJoinBeep[0]' '#c' 'psFlagChanJoinBeep[1]' b && "
                      "$t reset p5 ChanJoinBeep.channel",
        ("watch", 0): "timeout --preserve-status -s INT 1 $t watch morvrc >/dev/null",
        ("watch", 3): "$t watch morvrc >/dev/full",
        ("history", 3): "mkdir -p st/morvane && : >st/morvane/history && XDG_STATE_HOME=$PWD/st $t history morvrc",
        ("restore", 2): "$t restore 99 morvrc",
        ("restore", 4): "head -c 100 morvrc >r4 && $t reset --all r4 && $t restore 1 r4",
    }

    def documented_statuses(self):
        """The (verb, status) pairs that --help, help VERB and the manual
        page document; verb None for the tool's list of statuses."""
        source = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
        with open(os.path.join(source, "man", "morvrc_tool.1"), encoding="utf-8") as f:
            page = f.read()
        texts = [(verb, self.tool("help", verb)) for verb in self.tool("--complete").split()]
        for entry in page.split("\n.SH COMMANDS\n")[1].split("\n.SH ")[0].split("\n.TP\n"):
            verb = re.match(r"\\fB(\w+)\\fP", entry)
            text = re.sub(r"(?m)^\.[A-Z]+ ?|\\f[BIP]|\\\(..", "", entry).replace("\\-", "-")
            texts += [(verb.group(1), text)] if verb else []
        found = {(None, int(n)) for n in re.findall(r"(?m)^  ([0-9])  ", self.tool("--help"))}
        found |= {(None, int(n)) for n in
                  re.findall(r"\n\.B ([0-9])\n", page.split("\n.SH EXIT STATUS\n")[1].split("\n.SH ")[0])}
        for verb, text in texts:
            # From the word "status" to the end of its sentence, every
            # digit that stands alone: "Exit status 2 for ..., 4 for ...".
            for sentence in re.split(r"\.\s", " ".join(text.split())):
                if "status" in sentence:
                    found |= {(verb, int(n)) for n in re.findall(r"(?<![\w(|.-])([0-9])(?![\w)|.])",
                                                                 sentence[sentence.index("status"):])}
        return found

    def test_every_documented_exit_status(self):
        """Each exit status that the help and the manual page document
        comes out of a command that should give it."""
        documented = self.documented_statuses()
        self.assertGreater(len(documented), 30, documented)
        self.assertEqual(set(), {c for c in documented if c[0] is not None} - set(self.STATUS_CASES))
        self.assertEqual({n for _, n in documented}, {n for _, n in self.STATUS_CASES})
        self.run_examples(["$t reset --all $rc", "cp $rc morvrc", "cp $rc old/morvrc",
                           "head -c 100 morvrc >cut", "mkdir -p empty bad/.xchat2/morvane",
                           "echo '7 | /X | X | 0 | - | 1' >bad/.xchat2/morvane/setup.dat"], "$t ")
        self.write(os.path.join(self.dir, "big64"), morvrc({}, ints={15: 1 << 33}, width=8))
        self.write(os.path.join(self.dir, "old14"), struct.pack("<i", 14) + morvrc({})[4:100 + 3 * TIME_BYTES])
        with open(os.path.join(self.dir, "edit6.sh"), "w") as f:
            f.write("sed -i 's/^iMaxCloneCount.*/iMaxCloneCount = 11/' \"$1\"; printf '!' >>victim\n")
        for (verb, status), command in sorted(self.STATUS_CASES.items()):
            self.run_examples([command], "$t ", status=status)

if __name__ == "__main__":
    unittest.main(verbosity=2)
