"""Drives the real editor under a private X server, as a person would.

The end-to-end tests use this module: it starts Xvfb, a scratch home with a
catalogue and help texts, the editor binary (under qemu for the i386 build),
and sends clicks and keys with xdotool.  It also writes expected morvrc
images field by field, independently of the program's own writer.
"""

import ctypes
import fcntl
import os
import random
import shlex
import shutil
import signal
import struct
import subprocess
import tempfile
import time

EDITOR = os.environ.get("MORV_EDITOR", "")
TOOL = os.environ.get("MORV_TOOL", "")  # morvrc_tool of the same build
RUNNER = shlex.split(os.environ.get("MORV_RUNNER", ""))
TIME_BYTES = int(os.environ.get("MORV_TIME_BYTES", "8"))
ARTIFACTS = os.environ.get("MORV_ARTIFACTS", tempfile.gettempdir())
# A window manager to run on each private X server (MORV_WM=openbox), to try
# the editor as it runs on a desktop; none by default.
WM = shlex.split(os.environ.get("MORV_WM", ""))
RUN_LOG = "/tmp/morvane_setup.log"
TITLE = "MoRvAnE - Setup Interface - Version 4.0 - rc_version_38"
# The title of every question, message and alert box: the program's name.
BOX_TITLE = "MoRvAnE Setup"
# Every run of the editor on this machine appends to RUN_LOG, and Exit removes
# it; one test process at a time starts editors, whatever build tree or
# checkout it comes from.  The lock is held until the process ends.
RUN_LOG_LOCK = "/tmp/morvane_setup.lock"
_run_log_lock = open(RUN_LOG_LOCK, "a")
fcntl.flock(_run_log_lock, fcntl.LOCK_EX)

# Emulated i386 programs are slower to start and to answer.
SLOW = 3 if RUNNER else 1

# The stored settings in file order: (name, kind, initial value).
# Kinds: i int32, t time, p text pair, s text, a the 19 parser flags.
FIELDS = [
    ("iFlagDebugMode", "i", 0), ("iFlagLogFile", "i", 0), ("iFlagCloneDetect", "i", 1),
    ("iFlagPrintClone", "i", 0), ("iFlagPrintList", "i", 1), ("iFlagColor", "i", 1),
    ("iMaxCloneCount", "i", 10), ("iFlagQueryBeep", "i", 1), ("iFlagNickBeep", "i", 1),
    ("iFlagDomainMonitoring", "i", 1), ("iFlagNickJoinMonitoring", "i", 1),
    ("iMaxQueryMSGFlood", "i", 10), ("iFlagCTCPAnswer", "i", 1), ("tCTCPFloodTimer", "t", 1),
    ("iFlagBeep", "i", 1), ("tSoundCommandTimer", "t", 6), ("iMaxMessageSent", "i", 3),
    ("tMinSecondSent", "t", 5), ("iFlagTextFloodOutgoing", "i", 0),
    ("psFlagChanJoinBeep", "p", (None, None)), ("psFlagChanModBeep", "p", (None, None)),
    ("psFlagChanWordBeep", "p", (None, None)), ("psPrefixOutput", "s", None),
    ("psPostfixOutput", "s", None), ("iFlagIgnoreMessage", "i", 1), ("iFlagMorvMessage", "i", 0),
    ("iFlagLocalUserModeChg", "i", 1), ("iFlagDebugModeFnc", "i", 0),
    ("iFlagEnableDatabase", "i", 1), ("iFlagEnableEvent", "i", 1),
    ("psMessageLanguage", "s", None), ("psAwayPostfix", "s", None), ("iFlagAwaySystem", "i", 1),
    ("psPipeCommand", "s", None), ("psAudioDevice", "s", None), ("iMaxMessageChar", "i", 256),
    ("psIdentifyCommand", "s", None), ("iFlagErrorMessage", "i", 1),
    ("iFlagDisableDBUpdating", "i", 0), ("iFlagMonitoringMessage", "i", 1),
    ("iFlagAwayMessage", "i", 1), ("iFlagCurrentTab", "i", 1), ("iFlagTextFloodError", "i", 1),
    ("iFlagBadWordSystem", "i", 1), ("iFlagBadWordMessage", "i", 1),
    ("iFlagEventsManagerDebug", "i", 0), ("iFlagParserMode", "a", [1] * 18 + [0]),
    ("iFlagTextFloodIncoming", "i", 0), ("iFlagAdvancedLog", "i", 0),
    ("iPrivateKillerAlert", "i", 8), ("iFlagFilterSystem", "i", 1),
    ("iPrivateKillerMessage", "i", 2), ("iFlagKeepQueueCommandCorrupted", "i", 0),
    ("iPKIgnoreCTCPVersion", "i", 1), ("iPKAllowOnTimeout", "i", 0), ("iFlagDisableSHBM", "i", 0),
]

# What a start without morvrc holds once the reader has filled in its texts.
DEFAULT_TEXTS = {
    "psMessageLanguage": "italiano", "psAwayPostfix": "_AWAY", "psPipeCommand": "/ECHO ",
    "psAudioDevice": "ALSA", "psIdentifyCommand": "/MSG NickServ Identify",
}


# Root may write anywhere; permission checks are made as this user (nobody).
ORDINARY_UID = 65534


def as_ordinary_user():
    """A preexec_fn that drops to ORDINARY_UID when running as root, else None."""
    if os.geteuid() != 0:
        return None

    def drop():
        os.setgid(ORDINARY_UID)
        os.setuid(ORDINARY_UID)
    return drop


def values(**changes):
    """Initial values, with the default texts, updated by changes."""
    v = {name: initial for name, _, initial in FIELDS}
    v.update(DEFAULT_TEXTS)
    v.update(changes)
    return v


def image(v, version=38, time_bytes=None):
    """The morvrc bytes of the settings v, written out field by field."""
    time_bytes = time_bytes or TIME_BYTES
    out = struct.pack("<i", version)

    def text(s):
        data = (s or "").encode("latin-1")
        return struct.pack("<i", len(data)) + data

    for name, kind, _ in FIELDS:
        x = v[name]
        if kind == "i":
            out += struct.pack("<i", x)
        elif kind == "t":
            out += struct.pack("<q" if time_bytes == 8 else "<i", x)
        elif kind == "s":
            out += text(x)
        elif kind == "p":
            out += text(x[0]) + text(x[1]) if x[0] and x[1] is not None else struct.pack("<i", 0)
        elif kind == "a":
            out += struct.pack("<19i", *x)
    return out


# Catalogue rows of the test home: (type, command, name, default, default text).
TEXT_ROWS = {20, 21, 22, 23, 24, 25, 26, 27, 34, 35, 37, 38, 40}
NUMERIC_ROWS = {7, 12, 14, 16, 17, 18, 39, 71, 73}


def catalogue():
    rows = []
    for n in range(1, 78):
        default_text = {20: "$", 21: "$", 26: ">>$^$", 27: "$^$", 34: "italiano", 35: "_AWAY",
                        37: "/ECHO$^$", 38: "ALSA", 40: "/MSG$^$NickServ$^$Identify"}.get(n, "-")
        if n in TEXT_ROWS and default_text == "-":
            default_text = "$"
        kind = 2 if n in TEXT_ROWS else 1 if n in NUMERIC_ROWS else 0
        default = {7: 20, 14: 30, 16: 60, 18: 90}.get(n, n % 2)
        rows.append("%d | /CMD%d | Var%d | %d | %s | %d\n" % (kind, n, n, default, default_text, 5000 + n))
    return "".join(rows)


class XConnection:
    """A connection of our own to the X server, through libX11, for what
    xdotool cannot do: watch a window being unmapped, send a close request."""

    STRUCTURE_NOTIFY_MASK = 1 << 17
    UNMAP_NOTIFY = 18
    CLIENT_MESSAGE = 33

    class _Any(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                    ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                    ("event", ctypes.c_ulong), ("window", ctypes.c_ulong)]

    class _ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                    ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                    ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]

    class _Event(ctypes.Union):
        pass

    _Event._fields_ = [("any", _Any), ("xclient", _ClientMessage), ("pad", ctypes.c_long * 24)]

    def __init__(self, display):
        x = ctypes.cdll.LoadLibrary("libX11.so.6")
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XInternAtom.restype = ctypes.c_ulong
        x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                                 ctypes.c_void_p]
        x.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
        x.XPending.argtypes = [ctypes.c_void_p]
        x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
        x.XFlush.argtypes = [ctypes.c_void_p]
        x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.x = x
        self.dpy = x.XOpenDisplay(display.encode())
        if not self.dpy:
            raise AssertionError("cannot open display " + display)
        self.gone = set()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.x.XCloseDisplay(self.dpy)

    def watch(self, window):
        self.x.XSelectInput(self.dpy, window, self.STRUCTURE_NOTIFY_MASK)
        self.x.XSync(self.dpy, 0)

    def unmapped(self, window):
        """True once an UnmapNotify for window has arrived."""
        ev = self._Event()
        while self.x.XPending(self.dpy):
            self.x.XNextEvent(self.dpy, ctypes.byref(ev))
            if ev.any.type == self.UNMAP_NOTIFY:
                self.gone.add(ev.any.window)
        return window in self.gone

    def send_delete(self, window):
        ev = self._Event()
        ev.xclient.type = self.CLIENT_MESSAGE
        ev.xclient.window = window
        ev.xclient.message_type = self.x.XInternAtom(self.dpy, b"WM_PROTOCOLS", 0)
        ev.xclient.format = 32
        ev.xclient.data[0] = self.x.XInternAtom(self.dpy, b"WM_DELETE_WINDOW", 0)
        self.x.XSendEvent(self.dpy, window, 0, 0, ctypes.byref(ev))
        self.x.XFlush(self.dpy)


class Editor:
    """One run of the editor in a scratch home on a private X server."""

    def __init__(self, test_name, xchat_dir=".xchat2/morvane", setup_dat=None, morvrc=None,
                 messages=True):
        """setup_dat: None for the test catalogue, False for none, or the file's text."""
        self.name = test_name
        self.home = tempfile.mkdtemp(prefix="morv-e2e-")
        self.dir = os.path.join(self.home, xchat_dir)
        os.makedirs(self.dir)
        self.write_data(setup_dat, messages)
        if morvrc is not None:
            self.write_rc(morvrc)
        self.proc = None
        self.xvfb = None
        self.wm = None
        self.out_path = os.path.join(self.home, "stdout")
        self.window = None
        self.program_dir = None

    # -- files ------------------------------------------------------------

    def write_data(self, setup_dat=None, messages=True):
        """Writes the catalogue and the Italian help texts into the script directory."""
        if setup_dat is not False:
            with open(os.path.join(self.dir, "setup.dat"), "w") as f:
                f.write(catalogue() if setup_dat is None else setup_dat)
        if messages:
            with open(os.path.join(self.dir, "morv_italiano.msg"), "w") as f:
                f.write("// 5001 \"Aiuto della riga uno\"\n// 5007 \"Numero massimo di cloni\"\n"
                        "// 5071 \"Avviso dei cloni privati\"\n")

    @property
    def rc(self):
        return os.path.join(self.dir, "morvrc")

    def write_rc(self, data):
        with open(self.rc, "wb") as f:
            f.write(data)

    def read_rc(self):
        with open(self.rc, "rb") as f:
            return f.read()

    def xvfb_log(self):
        try:
            with open(os.path.join(self.home, "xvfb.log"), "rb") as f:
                return f.read().decode("latin-1")
        except FileNotFoundError:
            return ""

    def stdout(self):
        with open(self.out_path, "rb") as f:
            return f.read().decode("latin-1")

    @staticmethod
    def run_log():
        try:
            with open(RUN_LOG, "rb") as f:
                return f.read().decode("latin-1")
        except FileNotFoundError:
            return None

    # -- the X server and the program ----------------------------------

    def start_x(self):
        """Starts a private X server on a display number of its own: the lock
        file that Xvfb creates must name our server, else another number is
        tried."""
        for _ in range(20):
            display = random.randrange(200, 30000)
            with open(os.path.join(self.home, "xvfb.log"), "wb") as log:
                xvfb = subprocess.Popen(
                    ["Xvfb", ":%d" % display, "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                     "-noreset"],
                    stderr=log)
            deadline = time.time() + 10
            while xvfb.poll() is None and time.time() < deadline:
                try:
                    with open("/tmp/.X%d-lock" % display) as f:
                        owner = int(f.read().strip() or 0)
                except (OSError, ValueError):
                    owner = 0
                if owner == xvfb.pid and os.path.exists("/tmp/.X11-unix/X%d" % display):
                    try:
                        XConnection(":%d" % display).__exit__()
                    except AssertionError:
                        pass
                    else:
                        self.xvfb = xvfb
                        self.env = dict(os.environ, DISPLAY=":%d" % display, HOME=self.home)
                        if WM:
                            self.wm = subprocess.Popen(WM, env=self.env, stdout=subprocess.DEVNULL,
                                                       stderr=subprocess.DEVNULL)
                            time.sleep(0.5)
                        return
                time.sleep(0.05)
            xvfb.kill()
            xvfb.wait()
        raise AssertionError("could not start Xvfb:\n" + self.xvfb_log())

    def start(self, program=None, env_changes=None, preexec_fn=None, cwd=None, prefix=()):
        """Starts the editor; program defaults to the binary under test, and
        prefix is a command to run it under (e.g. strace)."""
        if self.xvfb is None:
            self.start_x()
        program = program or EDITOR
        if preexec_fn is not None:
            program = self.reachable_copy(program)
        env = dict(self.env)
        for key, value in (env_changes or {}).items():
            if value is None:
                env.pop(key, None)
            else:
                env[key] = value
        out = open(self.out_path, "wb")
        self.proc = subprocess.Popen(list(prefix) + RUNNER + [program], env=env, stdout=out,
                                     stderr=subprocess.STDOUT, preexec_fn=preexec_fn,
                                     cwd=cwd or "/")
        out.close()

    def reachable_copy(self, program):
        """A copy of program that any user can run: the ordinary user may not
        reach the build tree (a checkout under root's home, mode 0700)."""
        if self.program_dir is None:
            self.program_dir = tempfile.mkdtemp(prefix="morv-program-")
            os.chmod(self.program_dir, 0o755)
        copy = os.path.join(self.program_dir, os.path.basename(program))
        shutil.copyfile(program, copy)
        os.chmod(copy, 0o755)
        return copy

    def xdo(self, *args, check=True):
        r = subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env,
                           capture_output=True, text=True)
        if check and r.returncode != 0:
            raise AssertionError("xdotool %s: %s" % (" ".join(map(str, args)), r.stderr))
        return r.stdout

    def windows(self):
        """Visible windows of the editor (its class, boxes included): {id: title}."""
        ids = self.xdo("search", "--onlyvisible", "--class", "morvane-setup", check=False).split()
        return {i: self.xdo("getwindowname", i, check=False).strip() for i in ids}

    def wait_for(self, predicate, what, timeout=10):
        deadline = time.time() + timeout * SLOW
        while time.time() < deadline:
            result = predicate()
            if result:
                return result
            if self.proc is not None and self.proc.poll() is not None and what != "the box to close":
                raise AssertionError("editor ended (status %s) while waiting for %s; output:\n%s\n"
                                     "X server log:\n%s" % (self.proc.returncode, what, self.stdout(),
                                                             self.xvfb_log()))
            time.sleep(0.05)
        self.screenshot("timeout")
        raise AssertionError("timed out waiting for %s" % what)

    def wait_main(self):
        self.window = self.wait_for(
            lambda: next((i for i, t in self.windows().items() if t == TITLE), None), "the main window")
        time.sleep(0.2 * SLOW)
        return self.window

    def wait_box(self):
        """Waits for a question, message, alert or input box (titled BOX_TITLE)."""
        box = self.wait_for(lambda: next((i for i, t in self.windows().items() if t == BOX_TITLE), None),
                            "a box")
        time.sleep(0.2 * SLOW)
        return box

    def answer(self, *keys):
        """Waits for a box and answers it with keys, e.g. "Return".

        Every box reuses one window, so the answer is known to have been taken
        when that window is unmapped, whatever box may follow it."""
        box = int(self.wait_box())
        with XConnection(self.env["DISPLAY"]) as x:
            x.watch(box)
            self.xdo("key", "--clearmodifiers", *keys)
            self.wait_for(lambda: x.unmapped(box) or not self.running(), "the box to close")

    def wait_exit(self, timeout=10):
        try:
            return self.proc.wait(timeout=timeout * SLOW)
        except subprocess.TimeoutExpired:
            self.screenshot("still-running")
            raise AssertionError("editor still running")

    def running(self):
        return self.proc.poll() is None

    # -- what a person does in the main window --------------------------

    def click(self, x, y):
        self.xdo("mousemove", "--window", self.window, x, y, "click", 1)
        time.sleep(0.15 * SLOW)

    def key(self, *keys):
        self.xdo("key", "--clearmodifiers", "--delay", 40, *keys)
        time.sleep(0.1 * SLOW)

    def type(self, text):
        self.xdo("type", "--delay", 20, text)
        time.sleep(0.1 * SLOW)

    def select_row(self, n):
        """Goes to the first line of the list, then walks down with the arrow key."""
        self.click(300, 50)
        self.key("Home")             # scrolls to the top; the selection stays
        self.click(300, 50)
        if n > 1:
            self.key(*(["Down"] * (n - 1)))

    def title(self):
        """The main window's title as it is now."""
        return self.xdo("getwindowname", self.window, check=False).strip()

    def row_menu(self, y):
        """Right-clicks the list line at y (50 for the first one shown, 17 pixels a line)."""
        self.xdo("mousemove", "--window", self.window, 300, y, "click", 3)
        time.sleep(0.3 * SLOW)

    def double_click(self, y):
        self.xdo("mousemove", "--window", self.window, 300, y, "click", "--repeat", 2, "--delay", 60, 1)
        time.sleep(0.15 * SLOW)

    def type_in_box(self, text):
        """Replaces the text of an input box with text and answers it with Return."""
        self.wait_box()
        self.key("ctrl+a")
        self.type(text)
        self.answer("Return")

    def on(self):
        self.click(40, 302)

    def off(self):
        self.click(105, 302)

    def counter_up(self):
        self.click(325, 302)

    def counter_down(self):
        self.click(190, 302)

    def set_text(self, text):
        """Replaces the text field's contents, then leaves the field with Tab."""
        self.click(600, 302)
        self.key("End", "shift+Home", "BackSpace")
        if text:
            self.type(text)
        self.key("Tab")

    def load_button(self):
        self.click(720, 362)

    def reset_button(self):
        self.click(720, 402)

    def save_button(self):
        self.click(720, 442)

    def exit_button(self):
        self.click(720, 482)

    def close_request(self):
        """Sends the window manager's close request (WM_DELETE_WINDOW) to the main window."""
        with XConnection(self.env["DISPLAY"]) as x:
            x.send_delete(int(self.window))
        time.sleep(0.2 * SLOW)

    def screenshot(self, tag):
        path = os.path.join(ARTIFACTS, "e2e-%s-%s.png" % (self.name, tag))
        subprocess.run(["import", "-window", "root", path], env=self.env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return path

    def close_editor(self):
        if self.proc is not None and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()

    def close(self):
        self.close_editor()
        if self.wm is not None:
            self.wm.kill()
            self.wm.wait()
        if self.xvfb is not None:
            self.xvfb.send_signal(signal.SIGTERM)
            self.xvfb.wait()
        subprocess.run(["chmod", "-R", "u+rwx", self.home])
        shutil.rmtree(self.home, ignore_errors=True)
        if self.program_dir is not None:
            shutil.rmtree(self.program_dir, ignore_errors=True)
