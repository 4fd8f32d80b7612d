#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets under tests/corpus/:

  settings_morv_fuzz/     morvrc images: whole files of versions 14 to 40 at
                          both time widths (4 and 8 bytes), with and without
                          texts and pairs, and the damaged kinds that the unit
                          tests use (empty, FF FF FF FF, too old, cut inside
                          every kind of field, a length past the end, a
                          negative second pair length, huge lengths);
  editor_catalogue_fuzz/  setup.dat files: 77 valid rows, partial rows, long
                          words, glued bars, 300 rows, a bad type code;
  support_mm_fuzz/        message files: escapes, colour codes, CRLF, blank
                          and long lines, numbers out of range, and language
                          names (an input starting with byte 1, 2 or 3 carries
                          one on its first line; the byte is the XChat layout);
  cli_morvrc_lines_fuzz/  "name = value" lines for morvrc_tool load: whole
                          dumps, hand-edited lines (comments, blanks, CRLF,
                          every form of a name and of a quoted text), numbers
                          at their limits, and one bad line of each kind;
  cli_morvrc_json_fuzz/   JSON documents for morvrc_tool load --json: dumps
                          with UTF-8 and "bytes" texts, escapes and surrogate
                          pairs, members to skip, and one bad document of
                          each kind.

Run it from anywhere; it replaces the five directories.  The files are
small on purpose: the fuzzer grows its own corpus from them under build/.
"""
import os
import shutil
import struct
import sys

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(TOP, "tests", "corpus")

# ---- morvrc -----------------------------------------------------------------

# (kind, first version that holds the field, name), in file order after the
# version word.  Kinds: i int32, t time, p text pair, s text, a 19 int32.
FIELDS = (
    [("i", 0, n) for n in (
        "iFlagDebugMode", "iFlagLogFile", "iFlagCloneDetect", "iFlagPrintClone",
        "iFlagPrintList", "iFlagColor", "iMaxCloneCount", "iFlagQueryBeep",
        "iFlagNickBeep", "iFlagDomainMonitoring", "iFlagNickJoinMonitoring",
        "iMaxQueryMSGFlood", "iFlagCTCPAnswer")]
    + [("t", 0, "tCTCPFloodTimer"), ("i", 0, "iFlagBeep"),
       ("t", 0, "tSoundCommandTimer"), ("i", 0, "iMaxMessageSent"),
       ("t", 0, "tMinSecondSent"), ("i", 0, "iFlagTextFloodOutgoing"),
       ("p", 0, "psFlagChanJoinBeep"), ("p", 0, "psFlagChanModBeep"),
       ("p", 0, "psFlagChanWordBeep"),
       ("s", 12, "psPrefixOutput"), ("s", 12, "psPostfixOutput"),
       ("i", 13, "iFlagIgnoreMessage"), ("i", 15, "iFlagMorvMessage"),
       ("i", 16, "iFlagLocalUserModeChg"), ("i", 17, "iFlagDebugModeFnc"),
       ("i", 17, "iFlagEnableDatabase"), ("i", 17, "iFlagEnableEvent"),
       ("s", 18, "psMessageLanguage"), ("s", 19, "psAwayPostfix"),
       ("i", 20, "iFlagAwaySystem"), ("s", 21, "psPipeCommand"),
       ("s", 22, "psAudioDevice"), ("i", 23, "iMaxMessageChar"),
       ("s", 24, "psIdentifyCommand"), ("i", 25, "iFlagErrorMessage"),
       ("i", 26, "iFlagDisableDBUpdating"), ("i", 26, "iFlagMonitoringMessage"),
       ("i", 27, "iFlagAwayMessage"), ("i", 28, "iFlagCurrentTab"),
       ("i", 28, "iFlagTextFloodError"), ("i", 29, "iFlagBadWordSystem"),
       ("i", 29, "iFlagBadWordMessage"), ("i", 30, "iFlagEventsManagerDebug"),
       ("a", 30, "iFlagParserMode"), ("i", 31, "iFlagTextFloodIncoming"),
       ("i", 32, "iFlagAdvancedLog"), ("i", 32, "iPrivateKillerAlert"),
       ("i", 33, "iFlagFilterSystem"), ("i", 34, "iPrivateKillerMessage"),
       ("i", 35, "iFlagKeepQueueCommandCorrupted"), ("i", 36, "iPKIgnoreCTCPVersion"),
       ("i", 37, "iPKAllowOnTimeout"), ("i", 38, "iFlagDisableSHBM")]
)


def i32(v):
    return struct.pack("<i", v)


def text(s):
    b = s.encode("latin-1") if isinstance(s, str) else s
    return i32(len(b)) + b


class Image:
    """A morvrc image built field by field, remembering where each starts."""

    def __init__(self, version, width, texts=None, pairs=None, values=None):
        texts = texts or {}
        pairs = pairs or {}
        values = values or {}
        self.starts = {}
        out = bytearray(i32(version))
        for n, (kind, since, name) in enumerate(FIELDS):
            if version < since:
                continue
            self.starts[name] = len(out)
            v = values.get(name, n + 1)
            if kind == "i":
                out += i32(v)
            elif kind == "t":
                out += struct.pack("<q" if width == 8 else "<i", v)
            elif kind == "a":
                for k in range(19):
                    out += i32(k % 2)
            elif kind == "s":
                out += text(texts.get(name, ""))
            elif kind == "p":
                if name in pairs:
                    out += text(pairs[name][0]) + text(pairs[name][1])
                else:
                    out += i32(0)
        self.data = bytes(out)


SOME_TEXTS = {
    "psPrefixOutput": "[", "psPostfixOutput": "]", "psMessageLanguage": "english",
    "psAwayPostfix": "|away", "psPipeCommand": "/ECHO ", "psAudioDevice": "OSS",
    "psIdentifyCommand": "/MSG NickServ Identify secret",
}
SOME_PAIRS = {"psFlagChanJoinBeep": ("#chan", "beep"), "psFlagChanModBeep": ("#mod", ""),
              "psFlagChanWordBeep": ("#w", "word list")}


def morvrc_corpus():
    files = {}
    for width in (4, 8):
        bits = width * 8
        for version in (14, 17, 21, 30, 38, 40):
            img = Image(version, width, SOME_TEXTS, SOME_PAIRS)
            data = img.data + (b"newer fields" if version == 40 else b"")
            files["v%d-%d-texts" % (version, bits)] = data
            files["v%d-%d-bare" % (version, bits)] = Image(version, width).data
        full = Image(38, width, SOME_TEXTS, SOME_PAIRS)
        # Every text of a version-38 file present and long, and a pair with
        # a zero byte inside.
        files["v38-%d-long" % bits] = Image(
            38, width, {k: v * 40 for k, v in SOME_TEXTS.items()},
            {"psFlagChanJoinBeep": ("a\0b", "c\0"), "psFlagChanModBeep": ("x" * 300, "y")}).data
        files["v38-%d-negative-values" % bits] = Image(
            38, width, values={"tCTCPFloodTimer": -1, "iMaxCloneCount": -5,
                               "tMinSecondSent": -(2 ** 31)}).data
        d = full.data
        s = full.starts
        # Cut inside every kind of field.
        files["cut-%d-int" % bits] = d[:s["iFlagLogFile"] + 2]
        files["cut-%d-time" % bits] = d[:s["tSoundCommandTimer"] + width - 1]
        files["cut-%d-pair-first" % bits] = d[:s["psFlagChanJoinBeep"] + 6]
        files["cut-%d-pair-second-length" % bits] = d[:s["psFlagChanJoinBeep"] + 4 + 5 + 2]
        files["cut-%d-pair-second-text" % bits] = d[:s["psFlagChanJoinBeep"] + 4 + 5 + 4 + 2]
        files["cut-%d-text-length" % bits] = d[:s["psPrefixOutput"] + 3]
        files["cut-%d-text" % bits] = d[:s["psMessageLanguage"] + 6]
        files["cut-%d-array" % bits] = d[:s["iFlagParserMode"] + 40]
        files["cut-%d-last" % bits] = d[:-1]
        head = d[:s["psFlagChanJoinBeep"]]
        files["past-end-%d-pair" % bits] = head + i32(100) + b"short"
        files["past-end-%d-pair-second" % bits] = head + text("ab") + i32(9) + b"x"
        files["negative-%d-pair-second" % bits] = head + text("ab") + i32(-5) + b"xxxxxxxx"
        files["negative-%d-pair-first" % bits] = head + i32(-3) + d[s["psFlagChanModBeep"]:]
        files["huge-%d-pair" % bits] = head + i32(0x7FFFFFFF) + b"abc"
        files["huge-%d-text" % bits] = head + i32(0) * 3 + i32(-7) + i32(0x7FFFFFF0) + b"x"
        files["negative-%d-language" % bits] = d[:s["psMessageLanguage"]] + i32(-1) + \
            d[s["psMessageLanguage"] + 4 + len("english"):]
    files["empty"] = b""
    files["ff-ff-ff-ff"] = b"\xff\xff\xff\xff"
    files["version-13"] = i32(13) + i32(5)
    files["version-only"] = i32(38)
    files["short-version"] = b"\x26\x00"
    # A 64-bit file whose first time needs 33 bits.
    files["v17-64-wide-time"] = Image(17, 8, values={"tCTCPFloodTimer": 2 ** 32}).data
    return files


# ---- setup.dat ----------------------------------------------------------------

TEXT_ROWS = set(range(20, 28)) | {34, 35, 37, 38, 40}


def row(kind, command, name, default, text_default, help_no):
    return "%s | %s | %s | %s | %s | %s\n" % (kind, command, name, default, text_default, help_no)


def catalogue_corpus():
    files = {}
    rows77 = ""
    for i in range(1, 78):
        kind = 2 if i in TEXT_ROWS else (1 if i in (7, 12, 14, 16, 17, 18, 39, 71, 73) else 0)
        default = "$" if kind != 2 else ("a$^$b" if i == 26 else "$^$" if i == 27 else "/ECHO$^$")
        rows77 += row(kind, "/CMD%d" % i, "Name%d" % i, i % 2, default, 3000 + i)
    files["valid-77"] = rows77
    files["valid-3"] = row(0, "/DEBUG", "DebugMode", 0, "$", 3001) + \
        row(1, "/CLONES", "MaxCloneCount", 10, "$", 3007) + \
        row(2, "/PREFIX", "PrefixOutput", 0, "[$^$", 3026)
    files["free-white-space"] = "1|/A |a |5|- |9\n  0   |\n/B\n|\tb | 0 | x | 10"
    files["partial-row"] = "0 | /A | a | 1\n"
    files["partial-rows"] = "0 | /A\n1 | /B | b\n2 | /C | c | 3 | d\n"
    files["long-words"] = row(0, "w" * 50, "v" * 40, 1, "d" * 33, 7) + row(1, "/next", "n", 2, "-", 8)
    files["long-word-at-end"] = "0 | " + "z" * 70
    files["glued-bars"] = row(1, "/A", "a", 4, "-", 5) + "1 | /B| b | 0 | - | 6\n"
    files["glued-number"] = "0|/A|a|1|-|2\n"
    files["rows-300"] = "".join(row(0, "/c%d" % i, "v", 0, "-", 1) for i in range(1, 301))
    files["bad-type"] = row(0, "/A", "a", 0, "-", 1) + row(3, "/B", "b", 0, "-", 1) + row(0, "/C", "c", 0, "-", 1)
    files["negative-type"] = row(-1, "/A", "a", 0, "-", 1)
    files["numbers-out-of-range"] = row(1, "/A", "a", "99999999999", "-", "-2147483649") + \
        row(2, "/B", "b", "-0", "$^$$^$$^$", "+7")
    files["dollar-defaults"] = row(2, "/A", "a", 0, "$", 1) + row(2, "/B", "b", 0, "$$^$^$", 2) + \
        row(2, "/C", "c", 0, "$^$" * 10 + "x", 3)
    files["empty"] = ""
    files["blank"] = " \n\t\n"
    files["no-number"] = "x | /A | a | 0 | - | 1\n"
    files["crlf"] = row(0, "/A", "a", 0, "-", 1).replace("\n", "\r\n") * 3
    return {k: v.encode("latin-1") for k, v in files.items()}


# ---- message files ------------------------------------------------------------

def messages_corpus():
    files = {}
    files["plain"] = '# testi\n// 0001 "uno"\n// 0005 "cinque"\n// 0001 "ancora uno"\n'
    files["escapes"] = ('// 0001 "a\\nb\\tc \\"q\\" .xchatV/x"\n'
                        '// 0002 "\\0034rosso\\003 \\00312blu \\017fine"\n'
                        '// 0003 "doppio \\\\n e \\\\ solo"\n'
                        '// 0004 "\\\\\\\\\\\\"\n')
    words = ("abcdefghi " * 21)[:200]
    files["wrap"] = ('// 0001 "%s"\n// 0002 "%s"\n// 0003 "%s"\n'
                     % (words, "x" * 50 + " " + "y" * 149, "a" * 40 + " " + "b" * 40))
    files["ignored-lines"] = ('// 0001 "ok"\n\n// 12345 "x"\n// -005 "neg"\n//0006 "shifted"\n'
                              '// 0007 ""\n// 0008 "\n// 0009 "crlf"\r\n// 0010 "unclosed\n'
                              '# comment\nparola\n')
    files["crlf"] = '// 0001 "one"\r\n\r\n// 0002 "two\\n"\r\n'
    files["out-of-range"] = '// 9999 "last"\n// 10000 "x"\n// -001 "y"\n// +042 "plus"\n// 0000 "zero"\n'
    files["long-line"] = '// 0001 "' + "z" * 5000 + '"\n// 0002 "after"\n'
    files["long-line-exact"] = '// 0001 "' + "k" * (4094 - 10) + '"\n// 0003 "next"\n'
    files["zero-byte"] = '// 0001 "a\0b"\n\0// 0002 "c"\n// 0003 "d"\n'
    files["no-final-newline"] = '// 0001 "end'
    files["headers-10000"] = "//1\n" * 10000 + '// 0002 "late"\n'
    files["empty"] = ""
    # Inputs that start with byte 1, 2 or 3 name the language on their first
    # line; the byte is the XChat layout (3: none).
    files["name-fuzz"] = '\x01fuzz\n// 0001 "by name"\n'
    files["name-fuzz-xchat1"] = '\x02fuzz\n// 0001 "XChat 1"\n'
    files["name-fuzz-no-layout"] = '\x03fuzz\n// 0001 "none"\n'
    files["name-italiano"] = '\x01italiano\n// 0001 "uno"\n'
    files["name-empty"] = '\x01\n// 0001 "uno"\n'
    files["name-slashes"] = '\x01/../morv_fuzz\n// 0001 "through the directory"\n'
    files["name-directory"] = '\x01/.\n// 0001 "x"\n'
    # Names whose path is one character short of its buffer, and one over.
    prefix = len(".xchat2/morvane/morv_") + len(".msg")
    fill = 4094 - prefix - 1
    files["name-path-fits"] = "\x01/" + "./" * (fill // 2) + "x" * (fill % 2) + '\n// 0001 "x"\n'
    files["name-path-too-long"] = "\x01/" + "./" * (fill // 2 + 1) + '\n// 0001 "x"\n'
    return {k: v.encode("latin-1") for k, v in files.items()}


# ---- "name = value" lines -----------------------------------------------------

EVENTS = ("PRIVMSG", "JOIN", "LUJOIN", "CHNICK", "CLIST", "SRVMSG", "PART", "KICK", "MODE",
          "NAMES", "WHO", "QUIT", "OSERVER", "ENDWHO", "ERRORLNK", "ENDMOTD", "NOTIFY",
          "INVITE", "NOTICE")


def quote(s):
    """A text as dump quotes it: C escapes by name, other bytes outside
    printable ASCII as three octal digits; None is absent."""
    if s is None:
        return "absent"
    named = {'"': '\\"', "\\": "\\\\", "\a": "\\a", "\b": "\\b", "\f": "\\f",
             "\n": "\\n", "\r": "\\r", "\t": "\\t", "\v": "\\v"}
    out = '"'
    for c in s:
        if c in named:
            out += named[c]
        elif " " <= c < "\x7f":
            out += c
        else:
            out += "\\%03o" % ord(c)
    return out + '"'


def dump(texts=None, pairs=None, values=None):
    """The lines dump prints for a version-38 file holding these values:
    ints and times n + 1 for field n, the parser flags k % 2."""
    texts = texts or {}
    pairs = pairs or {}
    values = values or {}
    out = "# morvrc version 38, 64-bit time fields, 400 bytes\n"
    for n, (kind, _, name) in enumerate(FIELDS):
        if kind in "it":
            out += "%s = %d\n" % (name, values.get(name, n + 1))
        elif kind == "a":
            out += "".join("%s[%s] = %d\n" % (name, e, k % 2) for k, e in enumerate(EVENTS))
        elif kind == "s":
            out += "%s = %s\n" % (name, quote(texts.get(name)))
        else:
            pair = pairs.get(name, (None, None))
            out += "%s[0] = %s\n%s[1] = %s\n" % (name, quote(pair[0]), name, quote(pair[1]))
    return out


def lines_corpus():
    files = {}
    files["dump-texts"] = dump(SOME_TEXTS, SOME_PAIRS)
    files["dump-bare"] = dump()
    files["dump-escapes"] = dump(
        {"psAwayPostfix": 'tab\there "q" back\\slash \xc3\xa9', "psPipeCommand": "\x01\x7f\xff",
         "psPrefixOutput": "\a\b\f\n\r\t\v"},
        {"psFlagChanJoinBeep": ("#chan", ""), "psFlagChanWordBeep": ("w\xe8", "x y")},
        {"tCTCPFloodTimer": -3, "tSoundCommandTimer": 2 ** 33, "iMaxCloneCount": -(2 ** 31)})
    files["edited"] = (
        "# settings for the laptop\n\n"
        "  iMaxCloneCount=12\n"
        "iFlagColor   =   0   \n"
        "psAwayPostfix = |away now\n"
        "psAudioDevice = OSS dev \r\n"
        "iFlagParserMode[3] = 0\n"
        "iFlagParserMode[KICK] = 0\n"
        "NOTICE = 1\n"
        "\t# indented comment\n"
        "psFlagChanModBeep[0] = #mod\n"
        "psFlagChanModBeep[1] = \"\"\n"
        "iMaxCloneCount = 13\n"
        "psPrefixOutput = absent\n"
        "psPostfixOutput =\n")
    files["numbers-edge"] = (
        "iMaxCloneCount = 2147483647\niFlagColor = -2147483648\niFlagBeep = +5\n"
        "iFlagLogFile = -0\ntCTCPFloodTimer = 2147483647\ntMinSecondSent = -2147483648\n"
        "tSoundCommandTimer = 9223372036854775807\n")
    files["quoted-forms"] = (
        'psAwayPostfix = "\\x41\\101\\1\\\'\\?"\n'
        'psPipeCommand = "\\x7e\\x7F\\377"\n')
    files["bad-unclosed-quote"] = 'psAudioDevice = "no quote at the end\n'
    files["bad-escape-beyond-255"] = 'psIdentifyCommand = "\\x414"\n'
    files["bad-no-equals"] = "iMaxCloneCount 5\n"
    files["bad-empty-name"] = "iFlagColor = 1\n= 5\n"
    files["bad-unknown-name"] = "iFlagColor = 1\niMaxCloneCounts = 5\n"
    files["bad-value"] = "tCTCPFloodTimer = 1.5\n"
    files["bad-too-big"] = "iMaxCloneCount = 2147483648\n"
    files["bad-index"] = "iMaxCloneCount[0] = 1\npsFlagChanJoinBeep = x\niFlagParserMode[19] = 1\n"
    files["bad-half-pair"] = "psFlagChanJoinBeep[0] = #chan\niFlagColor = 0\n"
    files["bad-empty-first-of-pair"] = 'psFlagChanJoinBeep[0] = ""\npsFlagChanJoinBeep[1] = x\n'
    files["bad-zero-byte"] = "iFlagColor = 0\npsAwayPostfix = a\0b\n"
    files["bad-zero-escape"] = 'psAwayPostfix = "a\\0b"\n'
    files["bad-after-quote"] = 'psAwayPostfix = "a" b\n'
    files["no-final-newline"] = "iFlagColor = 0\nNOTICE = 1"
    files["empty"] = ""
    return {k: v.encode("latin-1") for k, v in files.items()}


def json_corpus():
    files = {}
    files["dump"] = (
        '{"version": 38, "bytes_after_last_field": 0, "settings": {"iFlagDebugMode": 1, '
        '"iMaxCloneCount": 12, "tCTCPFloodTimer": -3, "psFlagChanJoinBeep[0]": "#chan", '
        r'"psFlagChanJoinBeep[1]": "", "psMessageLanguage": "caf\u00e9", '
        r'"psAwayPostfix": {"bytes": "w\u00e8\u0001"}, "psAudioDevice": null, '
        '"iFlagParserMode[NOTICE]": 1, "NOTICE": 0}}').encode()
    files["utf8-raw"] = '{"settings": {"psPipeCommand": "caf\u00e9 \U0001f600"}}'.encode()
    files["escapes"] = (
        rb'{"settings": {"psPrefixOutput": "\"\\\/\b\f\n\r\t\ud83d\ude00\u00ff"}}')
    files["skipped"] = (b'{"error": "x", "list": [1, -2.5e3, true, false, null, {"a": [[]]}], '
                        b'"settings": {}}')
    files["bad-surrogate"] = b'{"settings": {"psPrefixOutput": "\ud83d"}}'
    files["bad-zero"] = b'{"settings": {"psPrefixOutput": "a\u0000b"}}'
    files["bad-bytes-above-ff"] = b'{"settings": {"psPrefixOutput": {"bytes": "\u0100"}}}'
    files["bad-kind"] = b'{"settings": {"iMaxCloneCount": "12", "psAwayPostfix": 5}}'
    files["bad-half-pair"] = b'{"settings": {"psFlagChanModBeep[0]": "#mod"}}'
    files["bad-not-utf8"] = b'{"settings": {"psPrefixOutput": "\xe8"}}'
    files["bad-trailing"] = b'{"settings": {}} x'
    files["bad-deep"] = b'{"a": ' + b"[" * 80 + b"]" * 80 + b', "settings": {}}'
    return files


def write(target, files):
    d = os.path.join(OUT, target)
    shutil.rmtree(d, ignore_errors=True)
    os.makedirs(d)
    for name, data in sorted(files.items()):
        with open(os.path.join(d, name), "wb") as f:
            f.write(data)
    return sum(len(v) for v in files.values()), len(files)


def main():
    total = 0
    for target, files in (("settings_morv_fuzz", morvrc_corpus()),
                          ("editor_catalogue_fuzz", catalogue_corpus()),
                          ("support_mm_fuzz", messages_corpus()),
                          ("cli_morvrc_lines_fuzz", lines_corpus()),
                          ("cli_morvrc_json_fuzz", json_corpus())):
        size, count = write(target, files)
        total += size
        print("%s: %d files, %d bytes" % (target, count, size))
    print("total: %d bytes" % total)
    return 0


if __name__ == "__main__":
    sys.exit(main())
