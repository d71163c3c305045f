"""zentu-vm as users run it: under Xvfb, with a private dbus-daemon as the system bus.

The test plays the rest of the device itself: the window manager (it activates windows and
writes "_MB_CURRENT_APP_WINDOW" on the root), the mode-control service that sends
"display_status_ind" (mce.py), and the user (xdotool). Every wait has a timeout.

Usage: test_window.py ZENTU_VM ZENTU_ASM PROGRAMS_DIR [unittest arguments]
"""
import contextlib
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from PIL import Image, ImageChops, ImageDraw, ImageGrab
from Xlib import X, XK, Xatom
from Xlib import display as xdisplay
from Xlib.protocol import event as xevent

ZENTU_VM, ZENTU_ASM, PROGRAMS = sys.argv[1:4]
HERE = os.path.dirname(os.path.abspath(__file__))
BUS_CONFIG = """<busconfig><type>system</type><listen>unix:path={path}</listen>
<auth>EXTERNAL</auth><policy context="default"><allow send_destination="*"/>
<allow eavesdrop="true"/><allow own="*"/></policy></busconfig>"""
WIDTH, HEIGHT = 800, 480
FOREVER = 0xFFFFFFFF
# How long "nothing happens" is watched for.
SETTLE = 1.0


def wait_until(condition, timeout=10.0, interval=0.05):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() > deadline:
            return value
        time.sleep(interval)


class Display:
    """An X server and a system bus of the test's own."""

    def __init__(self, work):
        self.number = ":%d" % (90 + os.getpid() % 400)
        self.xvfb = subprocess.Popen(["Xvfb", self.number, "-screen", "0", "%dx%dx24" % (WIDTH, HEIGHT),
                                      "-nolisten", "tcp"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        bus_path = os.path.join(work, "system_bus")
        config = os.path.join(work, "bus.conf")
        with open(config, "w") as f:
            f.write(BUS_CONFIG.format(path=bus_path))
        self.bus = subprocess.Popen(["dbus-daemon", "--nofork", "--config-file=" + config],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.env = dict(os.environ, DISPLAY=self.number, QT_QPA_PLATFORM="xcb",
                        DBUS_SYSTEM_BUS_ADDRESS="unix:path=" + bus_path,
                        # The audio player connects at start-up: to no server of the user's.
                        PULSE_SERVER="unix:" + os.path.join(work, "no-sound-server"),
                        LSAN_OPTIONS="print_suppressions=0:suppressions=" + os.path.join(HERE, "lsan.supp"))
        if not wait_until(lambda: os.path.exists(bus_path) and
                          os.path.exists("/tmp/.X11-unix/X" + self.number[1:]), timeout=10):
            self.close()
            raise RuntimeError("Xvfb or dbus-daemon did not start")
        self.x = xdisplay.Display(self.number)
        self.root = self.x.screen().root
        self.current_app_window = self.x.intern_atom("_MB_CURRENT_APP_WINDOW")
        # The window manager knows the portrait request, so the atom exists.
        self.portrait_request = self.x.intern_atom("_HILDON_PORTRAIT_MODE_REQUEST")
        self.other = None

    def close(self):
        if hasattr(self, "x"):
            self.x.close()
        for process in (self.xvfb, self.bus):
            process.terminate()
            process.wait(timeout=10)

    def screenshot(self):
        return ImageGrab.grab(xdisplay=self.number).convert("RGB")

    def xdotool(self, *args):
        subprocess.run(["xdotool", *args], env=self.env, check=True, timeout=10)

    def app_window(self, timeout=10):
        """The mapped window of zentu-vm."""
        def find():
            for window in self.root.query_tree().children:
                if (window.get_attributes().map_state == X.IsViewable and
                        (window.get_wm_class() or ("",))[0] == "zentu-vm"):
                    return window
            return None
        return wait_until(find, timeout)

    def other_window(self):
        """A window of another application, as the window manager would show it."""
        if self.other is None:
            screen = self.x.screen()
            self.other = self.root.create_window(0, 0, 10, 10, 0, screen.root_depth, X.InputOutput,
                                                 X.CopyFromParent, override_redirect=True)
            self.other.map()
            self.x.sync()
        return self.other

    def activate(self, window):
        window.set_input_focus(X.RevertToParent, X.CurrentTime)
        self.x.sync()

    def announce(self, window_id):
        """Writes the current application window on the root, as the window manager does."""
        self.root.change_property(self.current_app_window, Xatom.WINDOW, 32, [window_id])
        self.x.sync()

    def root_property(self, atom):
        reply = self.root.get_full_property(atom, X.AnyPropertyType)
        return None if reply is None else (reply.property_type, reply.format, list(reply.value))


class Mce:
    """The mode-control service: owns com.nokia.mce and sends the display status."""

    def __init__(self, env):
        self.process = subprocess.Popen(["/usr/bin/python3", os.path.join(HERE, "mce.py")], env=env,
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.expect("ready")

    def expect(self, word):
        reader = threading.Thread(target=lambda: setattr(self, "answer", self.process.stdout.readline()))
        reader.start()
        reader.join(10)
        if getattr(self, "answer", "").strip() != word:
            raise RuntimeError("mce.py did not answer %r" % word)
        self.answer = ""

    def send(self, status):
        self.process.stdin.write(status + "\n")
        self.process.stdin.flush()
        self.expect("sent")

    def close(self):
        self.process.stdin.close()
        self.process.wait(timeout=10)
        self.process.stdout.close()


class Run:
    """One zentu-vm process; its standard error is read while it runs."""

    def __init__(self, directory, env, args=(), executable=ZENTU_VM):
        self.process = subprocess.Popen([executable, *args], cwd=directory, env=env,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.lock = threading.Lock()
        self.errors = b""
        self.readers = [threading.Thread(target=self.read_errors),
                        threading.Thread(target=self.read_output)]
        self.output = b""
        for reader in self.readers:
            reader.start()

    def read_errors(self):
        for chunk in iter(lambda: self.process.stderr.read1(4096), b""):
            with self.lock:
                self.errors += chunk

    def read_output(self):
        self.output = self.process.stdout.read()

    def lines(self):
        """Complete standard-error lines so far, without the toolkit's own notes. Split on
        newlines only: a key's text may be a carriage return."""
        with self.lock:
            text = self.errors.decode("latin-1")
        return [line for line in text.split("\n")[:-1] if not line.startswith("QStandardPaths:")]

    def logged(self, prefixes=("LOG: ",)):
        return [line for line in self.lines() if line.startswith(prefixes)]

    def wait_for(self, line, timeout=15):
        if not wait_until(lambda: line in self.lines() or self.process.poll() is not None, timeout):
            raise AssertionError("no line %r: %r" % (line, self.lines()))
        if line not in self.lines():
            raise AssertionError("ended with %s before %r: %r" % (self.process.returncode, line, self.lines()))

    def wait_count(self, count, prefixes=("LOG: ",), timeout=15):
        wait_until(lambda: len(self.logged(prefixes)) >= count or self.process.poll() is not None, timeout)
        return self.logged(prefixes)

    def finish(self, timeout=30):
        """The exit status of a run that ends by itself."""
        try:
            status = self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait(timeout=10)
            raise AssertionError("still running after %ss: %r" % (timeout, self.lines()))
        return self.stop()

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait(timeout=10)
        for reader in self.readers:
            reader.join(10)
        self.process.stdout.close()
        self.process.stderr.close()
        return self.process.returncode


def canvas_picture(size, background):
    """What window-events.s draws on a canvas of this size."""
    picture = Image.new("RGB", size, background)
    draw = ImageDraw.Draw(picture)
    draw.rectangle([10, 10, 109, 59], fill=(255, 0, 0))
    draw.rectangle([300, 100, 359, 699], fill=(255, 255, 0))
    return picture


def on_screen(canvas, portrait):
    """A canvas as the landscape screen shows it: turned by -90 degrees in portrait."""
    return canvas.transpose(Image.Transpose.ROTATE_90) if portrait else canvas


NAVY, MAROON = (0, 0, 128), (128, 0, 0)
# The rectangle window-events.s repaints after R, in canvas coordinates.
REPAINTED = (40, 120, 200, 300)


class WindowTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="zentu-window-")
        cls.display = Display(cls.work)
        cls.images = {}

    @classmethod
    def tearDownClass(cls):
        cls.display.close()
        shutil.rmtree(cls.work)

    def application(self, source):
        directory = tempfile.mkdtemp(dir=self.work)
        subprocess.run([ZENTU_ASM, source, "-o", os.path.join(directory, "index.mcb")], check=True,
                       timeout=30)
        return directory

    def program(self, name):
        return self.application(os.path.join(PROGRAMS, name + ".s"))

    def start(self, directory, env=None, args=()):
        run = Run(directory, env or self.display.env, args)
        self.addCleanup(run.stop)
        return run

    def start_events(self, *keys):
        """window-events.s, started and given the keys, each acted on before the next."""
        run = self.start(self.application(os.path.join(HERE, "programs", "window-events.s")))
        run.wait_for("LOG: main")
        self.assertIsNotNone(self.display.app_window(), "no window")
        for key, answer in keys:
            self.display.xdotool("key", key)
            run.wait_for("LOG: " + answer)
        return run

    @contextlib.contextmanager
    def events(self, *keys):
        """start_events for one case of a table: stopped when the case ends, so that the next
        case's window is the only one."""
        run = self.start_events(*keys)
        try:
            yield run
        finally:
            run.stop()

    def assert_screen(self, expected, timeout=10):
        shot = wait_until(lambda: (lambda s: s if s == expected else None)(self.display.screenshot()),
                          timeout, interval=0.2) or self.display.screenshot()
        box = ImageChops.difference(shot, expected).getbbox()
        self.assertIsNone(box, "the screen differs inside %s" % (box,))

    # ---- start-up and failures ---------------------------------------------------------------

    def test_first_frame_fills_the_screen_as_the_headless_runner_draws_it(self):
        self.start(self.program("draw-frame"))
        expected = Image.open(os.path.join(PROGRAMS, "draw-frame.after", "landscape.png")).convert("RGB")
        self.assert_screen(expected)

    def test_failures_say_why_with_status_1(self):
        empty = tempfile.mkdtemp(dir=self.work)
        damaged = tempfile.mkdtemp(dir=self.work)
        with open(os.path.join(damaged, "index.mcb"), "wb") as f:
            f.write(b"not an image")
        no_bus = dict(self.display.env, DBUS_SYSTEM_BUS_ADDRESS="unix:path=" + os.path.join(self.work, "none"))
        cases = [
            (empty, None, "Failed to open '%s/index.mcb'" % empty),
            (damaged, None, "FATAL: UnknownException (CODE:11)"),
            (self.program("draw-frame"), no_bus, "FATAL: Failed to connect to dbus"),
        ]
        for directory, env, message in cases:
            with self.subTest(message=message):
                run = self.start(directory, env)
                self.assertEqual(run.finish(), 1)
                self.assertEqual(run.lines(), [message])

    def test_auto_takes_the_directory_below_opt_from_the_launcher_name(self):
        launcher = os.path.join(self.work, "zentu-test-missing-app")
        os.symlink(ZENTU_VM, launcher)
        run = Run(self.work, self.display.env, ["--auto"], executable=launcher)
        self.addCleanup(run.stop)
        self.assertEqual(run.finish(), 1)
        self.assertEqual(run.lines(), ["Failed to open '/opt/zentu-test-missing-app/index.mcb'"])

    # ---- input ---------------------------------------------------------------------------------

    def test_keys_reach_the_application_mapped_with_their_scan_code_and_text(self):
        run = self.start(self.program("keyevent"))
        run.wait_for("LOG: VMException: KeyEvent: invalid opcode 95")
        self.assertIsNotNone(self.display.app_window(), "no window")
        other = 0x01000000
        # xdotool key, then for every press it makes: the key code, the key symbol, the text.
        cases = [
            ("a", [(0x41, "a", "a")]),
            ("shift+a", [(other, "Shift_L", ""), (0x41, "a", "A")]),
            ("space", [(0x20, "space", " ")]),
            ("bracketleft", [(0x5B, "bracketleft", "[")]),
            ("braceleft", [(other, "Shift_L", ""), (other, "bracketleft", "{")]),
            ("Return", [(0x01000001, "Return", "\r")]),
            ("KP_Enter", [(other, "KP_Enter", "\r")]),
            ("BackSpace", [(0x01000002, "BackSpace", "\b")]),
            ("Left", [(0x01000003, "Left", "")]),
            ("Up", [(0x01000005, "Up", "")]),
            ("Right", [(0x01000004, "Right", "")]),
            ("Down", [(0x01000006, "Down", "")]),
            ("F1", [(other, "F1", "")]),
        ]
        for key, presses in cases:
            with self.subTest(key=key):
                before = len(run.logged())
                self.display.xdotool("key", key)
                lines = run.wait_count(before + 4 * len(presses))[before:]
                expected = []
                for code, symbol, text in presses:
                    scan = self.display.x.keysym_to_keycode(XK.string_to_keysym(symbol))
                    expected += ["LOG: %d" % code, "LOG: 0", "LOG: %d" % scan, "LOG: " + text]
                self.assertEqual(lines, expected)

    def test_pointer_kinds_arrive_with_window_coordinates_in_both_orientations(self):
        def drag(a, b):
            return [("mousemove", *a), ("mousedown", "1"), ("mousemove", *b), ("mouseup", "1")]
        # The keys before, the xdotool commands, the (kind, x, y) the application receives.
        cases = [
            ("landscape drag", [], drag(("100", "200"), ("300", "150")),
             [(0, 100, 200), (6, 300, 150), (1, 300, 150)]),
            ("portrait drag", [("P", "portrait")], drag(("100", "200"), ("300", "150")),
             [(0, 100, 200), (6, 300, 150), (1, 300, 150)]),
            ("moves without a button are not sent", [],
             [("mousemove", "10", "10"), ("mousemove", "20", "30"), ("click", "1")],
             [(0, 20, 30), (1, 20, 30)]),
            ("a double click is two presses", [],
             [("mousemove", "50", "60"), ("click", "--repeat", "2", "--delay", "80", "1")],
             [(0, 50, 60), (1, 50, 60), (0, 50, 60), (1, 50, 60)]),
        ]
        for name, keys, commands, expected in cases:
            with self.subTest(case=name), self.events(*keys) as run:
                for command in commands:
                    self.display.xdotool(*command)
                run.wait_count(len(expected), prefixes=("LOG: pointer",))
                time.sleep(SETTLE)
                self.assertEqual(run.logged(("LOG: pointer",)),
                                 ["LOG: pointer %d %d %d 0" % point for point in expected])

    # ---- foreground ------------------------------------------------------------------------------

    def step_through(self, run, steps):
        """Runs (name, action, expected lines) steps; an action may be repeated until its lines
        come (the toolkit learns of focus changes a little later), then nothing more may come."""
        wanted = []
        for name, action, lines in steps:
            with self.subTest(step=name):
                wanted += lines
                for _ in range(20 if lines else 1):
                    action()
                    if wait_until(lambda: len(run.logged(("LOG: foreground", "LOG: background"))) >= len(wanted),
                                  timeout=0.5 if lines else SETTLE) and lines:
                        break
                self.assertEqual(run.logged(("LOG: foreground", "LOG: background")), wanted)

    def test_the_window_managers_current_window_moves_the_application_between_foreground_and_background(self):
        run = self.start_events()
        window = self.display.app_window()
        other = self.display.other_window()
        d = self.display
        steps = [
            ("shown before loading: no event yet", lambda: None, []),
            ("own window announced while active",
             lambda: (d.activate(window), d.announce(window.id)), ["LOG: foreground"]),
            ("another window active and announced",
             lambda: (d.activate(other), d.announce(other.id)), ["LOG: background"]),
            ("the desktop's value 0xFFFFFFFF", lambda: d.announce(FOREVER), ["LOG: foreground"]),
            ("own window announced while another is active", lambda: d.announce(window.id), ["LOG: background"]),
            ("the same again", lambda: d.announce(window.id), []),
            ("a property of another type",
             lambda: d.root.change_property(d.current_app_window, Xatom.CARDINAL, 32, [FOREVER]) or d.x.sync(), []),
            ("own window active again", lambda: (d.activate(window), d.announce(window.id)), ["LOG: foreground"]),
        ]
        self.step_through(run, steps)

    def test_the_display_status_signal_moves_the_application_between_foreground_and_background(self):
        run = self.start_events()
        mce = Mce(self.display.env)
        self.addCleanup(mce.close)

        def impostor(status):
            # Not sent by the owner of com.nokia.mce: a device delivers no such signal.
            subprocess.run(["dbus-send", "--system", "--type=signal", "/com/nokia/mce/signal",
                            "com.nokia.mce.signal.display_status_ind", "string:" + status],
                           env=self.display.env, check=True, timeout=10)
        steps = [
            ("on while shown", lambda: mce.send("on"), ["LOG: foreground"]),
            ("off", lambda: mce.send("off"), ["LOG: background"]),
            ("on", lambda: mce.send("on"), ["LOG: foreground"]),
            ("on again", lambda: mce.send("on"), []),
            ("any other text is on", lambda: mce.send("dimmed"), []),
            ("off from another sender", lambda: impostor("off"), []),
            ("off", lambda: mce.send("off"), ["LOG: background"]),
            ("the window shown while the display is off",
             lambda: self.display.announce(FOREVER), []),
            ("on", lambda: mce.send("on"), ["LOG: foreground"]),
        ]
        self.step_through(run, steps)

    # ---- orientation ---------------------------------------------------------------------------

    def test_the_picture_and_repaint_rectangles_turn_by_minus_90_degrees_in_portrait(self):
        x, y, w, h = REPAINTED
        cases = [("landscape", [], (WIDTH, HEIGHT), False),
                 ("portrait", [("P", "portrait")], (HEIGHT, WIDTH), True)]
        for name, keys, canvas, portrait in cases:
            with self.subTest(orientation=name), self.events(*keys) as run:
                before = on_screen(canvas_picture(canvas, NAVY), portrait)
                self.assert_screen(before)
                # Only the repainted rectangle shows the new background.
                mask = Image.new("L", canvas, 0)
                ImageDraw.Draw(mask).rectangle([x, y, x + w - 1, y + h - 1], fill=255)
                after = before.copy()
                after.paste(on_screen(canvas_picture(canvas, MAROON), portrait), (0, 0),
                            on_screen(mask, portrait))
                self.display.xdotool("key", "R")
                run.wait_for("LOG: repaint")
                self.assert_screen(after)
                time.sleep(SETTLE)
                self.assert_screen(after, timeout=0)

    def test_orientation_changes_write_the_portrait_request_on_the_root_window(self):
        d = self.display
        d.root.delete_property(d.portrait_request)
        d.x.sync()
        run = self.start_events()
        cardinal = lambda value: (Xatom.CARDINAL, 32, [value])
        steps = [
            ("landscape when landscape touches nothing", "L", "landscape", None),
            ("portrait", "P", "portrait", cardinal(1)),
            ("portrait again", "P", "portrait", cardinal(1)),
            ("landscape", "L", "landscape", cardinal(0)),
        ]
        for name, key, answer, value in steps:
            with self.subTest(step=name):
                count = run.lines().count("LOG: " + answer)
                d.xdotool("key", key)
                self.assertTrue(wait_until(lambda: run.lines().count("LOG: " + answer) > count), run.lines())
                self.assertEqual(d.root_property(d.portrait_request), value)

    # ---- the log -------------------------------------------------------------------------------

    def test_program_tests_run_alike_in_the_window(self):
        """Programs of the headless tests give the same lines, status and files in zentu-vm.
        Those that keep running are stopped with SIGTERM once their lines are out: the log
        file holds every line by then."""
        cases = [("debug-logfile", False), ("system-debug", False), ("exit-function", True),
                 ("exit-request", True), ("exit-in-timer", True), ("fatal-in-timer", True)]
        for name, ends in cases:
            with self.subTest(program=name):
                status, lines = self.expectation(name)
                directory = self.program(name)
                before = os.path.join(PROGRAMS, name + ".before")
                if os.path.isdir(before):
                    shutil.copytree(before, directory, dirs_exist_ok=True)
                run = self.start(directory)
                try:
                    if ends:
                        self.assertEqual(run.finish(), status)
                    else:
                        run.wait_count(len(lines), prefixes=("",))
                        self.assertEqual(run.stop(), -signal.SIGTERM)
                finally:
                    run.stop()
                self.assertEqual(run.lines(), lines)
                self.assertEqual(run.output, b"")
                self.assert_files(os.path.join(PROGRAMS, name + ".after"), directory)

    def expectation(self, name):
        with open(os.path.join(PROGRAMS, name + ".expected"), encoding="utf-8", errors="surrogateescape") as f:
            head, _, body = f.read().partition("---\n")
        status = next(int(line.split()[1]) for line in head.splitlines() if line.startswith("exit "))
        body = body.encode("utf-8", errors="surrogateescape").decode("latin-1")
        return status, body.split("\n")[:-1]

    def assert_files(self, after, directory):
        if not os.path.isdir(after):
            return
        for folder, _, files in os.walk(after):
            for file in files:
                expected = os.path.join(folder, file)
                actual = os.path.join(directory, os.path.relpath(expected, after))
                with open(expected, "rb") as e, open(actual, "rb") as a:
                    self.assertEqual(a.read(), e.read(), actual)

    # ---- ends ----------------------------------------------------------------------------------

    def test_the_application_ends_in_order_with_the_status_of_its_end(self):
        def close_window(run):
            # The window manager asks the window to close.
            window = self.display.app_window()
            protocols = self.display.x.intern_atom("WM_PROTOCOLS")
            delete = self.display.x.intern_atom("WM_DELETE_WINDOW")
            window.send_event(xevent.ClientMessage(window=window, client_type=protocols,
                                                   data=(32, [delete, X.CurrentTime, 0, 0, 0])))
            self.display.x.sync()
        # How it is ended, the exit status, the lines after "main".
        cases = [
            ("the exit call", lambda run: self.display.xdotool("key", "X"), 0, []),
            ("the exit request", lambda run: self.display.xdotool("key", "Q"), 0, []),
            ("the fatal error", lambda run: self.display.xdotool("key", "F"), 1,
             ["FATAL: UnknownException (CODE:11)"]),
            ("the window closed", close_window, 0, ["LOG: background"]),
        ]
        for name, end, status, lines in cases:
            with self.subTest(end=name), self.events() as run:
                self.display.announce(FOREVER)
                run.wait_for("LOG: foreground")
                end(run)
                self.assertEqual(run.finish(), status)
                self.assertEqual(run.lines(), ["LOG: main", "LOG: foreground"] + lines)
                self.assertEqual(run.output, b"")


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[4:])
