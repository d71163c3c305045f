"""zentu-vm as users run it: under Xvfb, with a private dbus-daemon as the system bus.

Usage: test_window.py ZENTU_VM ZENTU_ASM PROGRAMS_DIR [unittest arguments]
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from PIL import Image, ImageGrab

ZENTU_VM, ZENTU_ASM, PROGRAMS = sys.argv[1:4]
HERE = os.path.dirname(os.path.abspath(__file__))
BUS_CONFIG = """<busconfig><type>system</type><listen>unix:path={path}</listen>
<auth>EXTERNAL</auth><policy context="default"><allow send_destination="*"/>
<allow eavesdrop="true"/><allow own="*"/></policy></busconfig>"""


class Display:
    """An X server and a system bus of the test's own."""

    def __init__(self, work):
        self.number = ":%d" % (90 + os.getpid() % 400)
        self.xvfb = subprocess.Popen(["Xvfb", self.number, "-screen", "0", "800x480x24", "-nolisten", "tcp"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        bus_path = os.path.join(work, "system_bus")
        config = os.path.join(work, "bus.conf")
        with open(config, "w") as f:
            f.write(BUS_CONFIG.format(path=bus_path))
        self.bus = subprocess.Popen(["dbus-daemon", "--nofork", "--config-file=" + config],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.env = dict(os.environ, DISPLAY=self.number, QT_QPA_PLATFORM="xcb",
                        DBUS_SYSTEM_BUS_ADDRESS="unix:path=" + bus_path,
                        LSAN_OPTIONS="suppressions=" + os.path.join(HERE, "lsan.supp"))
        for _ in range(100):
            if os.path.exists(bus_path) and os.path.exists("/tmp/.X11-unix/X" + self.number[1:]):
                break
            time.sleep(0.05)

    def close(self):
        for process in (self.xvfb, self.bus):
            process.terminate()
            process.wait()

    def screenshot(self):
        return ImageGrab.grab(xdisplay=self.number).convert("RGB")


class WindowTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="zentu-window-")
        cls.display = Display(cls.work)

    @classmethod
    def tearDownClass(cls):
        cls.display.close()
        shutil.rmtree(cls.work)

    def application(self, program):
        directory = tempfile.mkdtemp(dir=self.work)
        subprocess.run([ZENTU_ASM, os.path.join(PROGRAMS, program + ".s"), "-o",
                        os.path.join(directory, "index.mcb")], check=True)
        return directory

    def start(self, directory, env=None, args=()):
        return subprocess.Popen([ZENTU_VM, *args], cwd=directory, env=env or self.display.env,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def finish(self, process):
        """The exit status and the standard-error lines of a run that ends by itself."""
        _, errors = process.communicate(timeout=30)
        return process.returncode, [line for line in errors.splitlines()
                                    if not line.startswith("QStandardPaths:")]

    def test_first_frame_fills_the_screen_as_the_headless_runner_draws_it(self):
        process = self.start(self.application("draw-frame"))
        try:
            expected = Image.open(os.path.join(PROGRAMS, "draw-frame.after", "landscape.png")).convert("RGB")
            for _ in range(50):
                time.sleep(0.2)
                shot = self.display.screenshot()
                if shot.getpixel((799, 479)) == expected.getpixel((799, 479)):
                    break
            self.assertEqual(shot.size, (800, 480))
            for point in [(0, 0), (20, 20), (210, 110), (310, 110), (400, 300), (700, 100), (799, 479)]:
                self.assertEqual(shot.getpixel(point), expected.getpixel(point), point)
        finally:
            process.terminate()
            process.communicate(timeout=10)

    def test_a_typed_key_reaches_the_application_as_a_key_event(self):
        process = self.start(self.application("keyevent"))
        try:
            time.sleep(1.5)
            subprocess.run(["xdotool", "key", "a"], env=self.display.env, check=True)
            time.sleep(1.5)
        finally:
            process.terminate()
            _, errors = process.communicate(timeout=10)
        lines = errors.splitlines()
        # The program logs the key code, the modifiers, the scan code and the text.
        self.assertIn("LOG: 65", lines)
        self.assertIn("LOG: a", lines)

    def test_failures_say_why_with_status_1(self):
        empty = tempfile.mkdtemp(dir=self.work)
        damaged = tempfile.mkdtemp(dir=self.work)
        with open(os.path.join(damaged, "index.mcb"), "wb") as f:
            f.write(b"not an image")
        no_bus = dict(self.display.env, DBUS_SYSTEM_BUS_ADDRESS="unix:path=" + os.path.join(self.work, "none"))
        cases = [
            (empty, None, "Failed to open '%s/index.mcb'" % empty),
            (damaged, None, "FATAL: UnknownException (CODE:11)"),
            (self.application("draw-frame"), no_bus, "FATAL: Failed to connect to dbus"),
        ]
        for directory, env, message in cases:
            with self.subTest(message=message):
                status, errors = self.finish(self.start(directory, env))
                self.assertEqual(status, 1)
                self.assertIn(message, errors)

    def test_auto_takes_the_directory_below_opt_from_the_launcher_name(self):
        launcher = os.path.join(self.work, "zentu-test-missing-app")
        os.symlink(ZENTU_VM, launcher)
        process = subprocess.Popen([launcher, "--auto"], env=self.display.env, cwd=self.work,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        status, errors = self.finish(process)
        self.assertEqual(status, 1)
        self.assertIn("Failed to open '/opt/zentu-test-missing-app/index.mcb'", errors)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[4:])
