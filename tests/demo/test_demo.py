"""The bundled demo, run by zentu-run with event scripts (its frames are read back from the
draw steps' pictures), and by scripts/start-demo.sh in zentu-vm without a display.

Usage: test_demo.py ZENTU_RUN ZENTU_VM DEMO_APPDIR SOURCE_DIR [unittest arguments]
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from PIL import Image

ZENTU_RUN, ZENTU_VM, DEMO, SOURCE = sys.argv[1:5]
FIRST_FRAME = os.path.join(SOURCE, "examples", "demo", "first-frame")

BACKGROUND = (0x10, 0x20, 0x40)
BALL = (0xFF, 0xC8, 0x28)
BLOCK = (0xFF, 0xD0, 0x40)
HELD, NOT_HELD = (0x30, 0xD0, 0x50), (0x48, 0x50, 0x58)
MARK_CENTRE, MARK = (0xFF, 0xFF, 0xFF), (0xFF, 0x40, 0x40)
LEFT, RIGHT, UP, DOWN = 0x01000003, 0x01000004, 0x01000005, 0x01000006


class DemoTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="zentu-demo-")

    def tearDown(self):
        shutil.rmtree(self.work)

    def run_demo(self, *steps):
        """Runs the steps, then Q, which ends the demo; returns the frames the draws saved."""
        script = os.path.join(self.work, "script.events")
        with open(script, "w") as f:
            f.write("\n".join(steps + ('key press 0x51 "q"',)) + "\n")
        result = subprocess.run([ZENTU_RUN, "--events", script, "--time-limit", "20000", DEMO],
                                cwd=self.work, capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, "")
        frames = [step.split()[1] for step in steps if step.startswith("draw ")]
        return [Image.open(os.path.join(self.work, name)).convert("RGB") for name in frames]

    def test_first_frame_shows_the_listed_pixels(self):
        with open(FIRST_FRAME) as f:
            items = f.read().strip().split(";")
        (frame,) = self.run_demo("draw first.png")
        self.assertEqual(frame.size, (800, 480))
        for item in items:
            where, colour = item.split("=")
            x, y = map(int, where.split(","))
            with self.subTest(point=where):
                self.assertEqual("%02X%02X%02X" % frame.getpixel((x, y)), colour)

    def test_arrow_keys_move_the_ball_and_keep_it_on_the_screen(self):
        # The ball's centre starts at (400, 240); each press moves it 16 pixels.
        cases = [
            ([RIGHT], (416, 240)),
            ([LEFT, LEFT], (368, 240)),
            ([UP], (400, 224)),
            ([DOWN, DOWN, DOWN], (400, 288)),
            ([LEFT] * 40, (24, 240)),          # stops at the left edge
            ([UP] * 20, (400, 64)),            # stops below the title bar
            ([DOWN] * 20, (400, 386)),         # stops above the strip
        ]
        for keys, centre in cases:
            with self.subTest(keys=keys[:3], count=len(keys)):
                steps = tuple("key press %d" % key for key in keys) + ("draw ball.png",)
                (frame,) = self.run_demo(*steps)
                self.assertEqual(frame.getpixel(centre), BALL)
                if abs(centre[0] - 400) + abs(centre[1] - 240) > 24:
                    self.assertEqual(frame.getpixel((400, 240)), BACKGROUND)

    def test_the_square_is_lit_while_a_key_is_held(self):
        pressed, released = self.run_demo('key press 0x41 "a"', "draw pressed.png",
                                          'key release 0x41 "a"', "draw released.png")
        self.assertEqual(pressed.getpixel((770, 120)), HELD)
        self.assertEqual(released.getpixel((770, 120)), NOT_HELD)

    def test_a_tap_marks_the_spot_and_the_corner_or_o_turns_the_screen(self):
        marked, portrait, landscape, by_key = self.run_demo(
            "pointer press 100 300", "pointer release 100 300", "draw marked.png",
            "pointer press 790 10", "draw portrait.png",
            # In portrait the picture is turned: the canvas's top right is the window's top left.
            "pointer press 10 10", "draw landscape.png",
            'key press 0x4F "o"', "draw by-key.png")
        self.assertEqual(marked.getpixel((100, 300)), MARK_CENTRE)
        self.assertEqual(marked.getpixel((100, 288)), MARK)
        self.assertEqual(marked.size, (800, 480))
        self.assertEqual(portrait.size, (480, 800))
        self.assertEqual(landscape.size, (800, 480))
        # The second tap, turned back into the canvas, lies at (469, 10) of the portrait canvas.
        self.assertEqual(landscape.getpixel((469, 10)), MARK_CENTRE)
        self.assertEqual(by_key.size, (480, 800))

    def test_a_drag_moves_the_mark_and_a_release_leaves_it(self):
        (frame,) = self.run_demo("pointer press 100 300", "pointer move 150 320",
                                 "pointer release 600 100", "draw dragged.png")
        self.assertEqual(frame.getpixel((150, 320)), MARK_CENTRE)
        self.assertEqual(frame.getpixel((100, 300)), BACKGROUND)
        self.assertEqual(frame.getpixel((600, 100)), BACKGROUND)

    def test_the_timer_moves_the_block_along_the_strip(self):
        def block_left(frame):
            row = frame.height - 50
            return next(x for x in range(frame.width) if frame.getpixel((x, row)) == BLOCK)
        first, later = self.run_demo("draw first.png", "wait 300", "draw later.png")
        # 40 ms a step, 6 pixels a step: about 45 pixels in 300 ms, however busy the machine.
        self.assertGreater(block_left(later), block_left(first))


class StartDemoTest(unittest.TestCase):
    def test_without_a_display_it_runs_under_xvfb_and_saves_a_screenshot(self):
        work = tempfile.mkdtemp(prefix="zentu-start-demo-")
        try:
            shot = os.path.join(work, "shot.png")
            env = {k: v for k, v in os.environ.items()
                   if k not in ("DISPLAY", "DBUS_SYSTEM_BUS_ADDRESS", "QT_QPA_PLATFORM")}
            env["LSAN_OPTIONS"] = "suppressions=" + os.path.join(SOURCE, "tests", "window", "lsan.supp")
            result = subprocess.run([os.path.join(SOURCE, "scripts", "start-demo.sh"), ZENTU_VM, DEMO, shot],
                                    env=env, capture_output=True, text=True, timeout=120)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(result.stdout.splitlines()[-1],
                             "The demo ran under Xvfb (no DISPLAY was set); its screenshot is " + shot)
            frame = Image.open(shot).convert("RGB")
            self.assertEqual(frame.size, (800, 480))
            # Right, Right, Up moved the ball; the tap marked (250, 330); "A" is held.
            for point, colour in [((432, 224), BALL), ((400, 260), BACKGROUND),
                                  ((250, 330), MARK_CENTRE), ((770, 120), HELD)]:
                with self.subTest(point=point):
                    self.assertEqual(frame.getpixel(point), colour)
        finally:
            shutil.rmtree(work)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[5:])
