#!/usr/bin/python3
"""The Debian packages: the runtime's, built by CPack, and an application's, built by
zentu-pack; lintian finds no errors in either. With ZENTU_TEST_INSTALL=1 (as root, on a
machine that may change: CI sets it) both are installed, the application is started as
users start it, and both are removed again without a trace.

usage: test_packaging.py BUILD_DIR APPDIR FIRST_FRAME [unittest options]
  APPDIR: the application to package (the demo when there is one);
  FIRST_FRAME: what its first frame shows, "x,y=RRGGBB;..." or "-" when nothing is known.
"""

import ctypes
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

BUILD = APPDIR = FIRST_FRAME = None
WAIT = 20  # seconds for anything to happen


def run(command, **options):
    return subprocess.run(command, capture_output=True, text=True, timeout=300, **options)


def tiny_png(path):
    """A 1 x 1 red PNG, as an application's icon."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 1, 1, 8, 2, 0, 0, 0)) +
                  chunk(b"IDAT", zlib.compress(b"\x00\xff\x00\x00")) + chunk(b"IEND", b""))


def lintian_errors(deb):
    result = run(["lintian", "--no-tag-display-limit", deb])
    return [line for line in result.stdout.splitlines() if line.startswith("E:")]


def contents(deb):
    """Path -> (mode string, symlink target or None) of every entry."""
    listing = {}
    for line in run(["dpkg-deb", "-c", deb]).stdout.splitlines():
        fields = line.split(None, 5)
        name, _, target = fields[5].partition(" -> ")
        listing[name.lstrip(".")] = (fields[0], target or None)
    return listing


def field(deb, name):
    return run(["dpkg-deb", "-f", deb, name]).stdout.strip()


def has_zentu_vm():
    return os.path.exists(os.path.join(BUILD, "src", "zentu-vm"))


class Packages(unittest.TestCase):
    """Builds both packages once for all the tests."""

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="zentu-packaging-")
        result = run(["cpack", "--config", os.path.join(BUILD, "CPackConfig.cmake"),
                      "-B", os.path.join(cls.work, "runtime")], cwd=BUILD)
        if result.returncode != 0:
            raise RuntimeError("cpack failed:\n" + result.stdout + result.stderr)
        cls.runtime = os.path.join(cls.work, "runtime", "zentu-runtime_0.1.0_amd64.deb")
        cls.icon = os.path.join(cls.work, "icon.png")
        tiny_png(cls.icon)
        cls.app = cls.pack(APPDIR, "--name", "zentu-demo", "--version", "1.2",
                           "--icon", cls.icon, "--maintainer", "Zentu Tests <tests@zentu.org>")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work)

    @classmethod
    def pack(cls, appdir, *options, output=None):
        output = output or cls.work
        result = run([os.path.join(BUILD, "tools", "zentu-pack"), appdir, *options,
                      "--output", output])
        if result.returncode != 0:
            raise RuntimeError("zentu-pack failed: " + result.stderr)
        return result.stdout.strip()


class RuntimePackage(Packages):
    def test_holds_the_runtimes_tools_and_documentation(self):
        listing = contents(self.runtime)
        programs = ["zentu-run", "zentu-asm", "zentu-dis", "zentu-info", "zentu-pack"]
        if has_zentu_vm():
            programs.append("zentu-vm")
        for program in programs:
            self.assertEqual(listing["/usr/bin/" + program][0], "-rwxr-xr-x", program)
        for doc in ["README.md", "ARCHITECTURE.md", "ASSEMBLY.md", "copyright", "changelog.gz"]:
            self.assertIn("/usr/share/doc/zentu-runtime/" + doc, listing)
        # zentu-run loads its graphics from here
        self.assertIn("/usr/lib/zentu/zentu-run-toolkit.so", listing)

    def test_depends_on_the_libraries_of_its_programs(self):
        depends = field(self.runtime, "Depends")
        for library in ["libc6", "libqt6core6", "libstdc++6"]:
            self.assertIn(library, depends)
        if has_zentu_vm():
            self.assertIn("libqt6widgets6", depends)

    def test_lintian_finds_no_error(self):
        self.assertEqual(lintian_errors(self.runtime), [])


class ApplicationPackage(Packages):
    def test_file_name_and_control_fields(self):
        self.assertEqual(os.path.basename(self.app), "zentu-demo_1.2_all.deb")
        self.assertEqual(field(self.app, "Package"), "zentu-demo")
        self.assertEqual(field(self.app, "Version"), "1.2")
        self.assertEqual(field(self.app, "Architecture"), "all")
        self.assertEqual(field(self.app, "Depends"), "zentu-runtime")

    def test_every_application_file_goes_below_opt(self):
        listing = contents(self.app)
        shipped = {path for path in listing if path.startswith("/opt/zentu-demo/")}
        expected = {"/opt/zentu-demo/"}
        for directory, subdirectories, files in os.walk(APPDIR):
            relative = os.path.relpath(directory, APPDIR)
            prefix = "/opt/zentu-demo/" + ("" if relative == "." else relative + "/")
            expected |= {prefix + name + "/" for name in subdirectories}
            expected |= {prefix + name for name in files}
        self.assertEqual(shipped, expected)
        self.assertIn("/opt/zentu-demo/index.mcb", shipped)

    def test_launcher_desktop_entry_and_icon(self):
        listing = contents(self.app)
        self.assertEqual(listing["/usr/bin/zentu-demo"], ("lrwxrwxrwx", "zentu-vm"))
        self.assertIn("/usr/share/pixmaps/zentu-demo.png", listing)
        extracted = os.path.join(self.work, "extracted")
        subprocess.run(["dpkg-deb", "-x", self.app, extracted], check=True)
        with open(os.path.join(extracted, "usr/share/applications/zentu-demo.desktop")) as f:
            lines = f.read().splitlines()
        for line in ["[Desktop Entry]", "Type=Application", "Exec=zentu-demo --auto",
                     "Icon=zentu-demo"]:
            self.assertIn(line, lines)

    def test_lintian_finds_no_error(self):
        self.assertEqual(lintian_errors(self.app), [])

    def test_refusals_say_why_and_write_nothing(self):
        empty = os.path.join(self.work, "empty-app")
        broken = os.path.join(self.work, "broken-app")
        os.makedirs(empty, exist_ok=True)
        os.makedirs(broken, exist_ok=True)
        with open(os.path.join(broken, "index.mcb"), "wb") as f:
            f.write(b"\x14not an image at all")
        cases = [
            ([APPDIR, "--name", "Demo"], "is not a valid Debian package name"),
            ([APPDIR, "--name", "d"], "is not a valid Debian package name"),
            ([APPDIR, "--name", "my_demo"], "is not a valid Debian package name"),
            ([APPDIR, "--name", "-demo"], "is not a valid Debian package name"),
            ([APPDIR, "--name", "demo", "--version", "one"], "is not a valid Debian version"),
            ([empty, "--name", "demo"], "holds no index.mcb"),
            ([broken, "--name", "demo"],
             "does not load: Error while reading bytecode: byte 20: unexpected end of the image"),
            ([APPDIR, "--name", "demo", "--icon", os.path.join(self.work, "none.png")],
             "is not a file"),
            ([APPDIR, "--name", "demo", "--maintainer", "nobody"], "is not a maintainer"),
        ]
        for arguments, message in cases:
            with self.subTest(arguments=arguments):
                output = tempfile.mkdtemp(dir=self.work)
                result = run([os.path.join(BUILD, "tools", "zentu-pack"), *arguments,
                              "--output", output])
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertIn(message, result.stderr)
                self.assertEqual(os.listdir(output), [])


def installed(package):
    status = run(["dpkg-query", "-W", "-f=${Status}", package]).stdout
    return status == "install ok installed"


def packaged_files(package):
    return run(["dpkg-query", "-L", package]).stdout.splitlines()


class X11Screen:
    """Reads pixels of the root window, where the runtime's full-screen window lies."""

    def __init__(self, display):
        self.x = ctypes.CDLL("libX11.so.6")
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x.XGetImage.restype = ctypes.c_void_p
        self.x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                     ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        self.x.XGetPixel.restype = ctypes.c_ulong
        self.x.XGetPixel.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
        self.x.XDestroyImage.argtypes = [ctypes.c_void_p]
        self.x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.display = self.x.XOpenDisplay(display.encode())

    def pixel(self, px, py):
        all_planes, z_pixmap = 0xFFFFFFFF, 2
        image = self.x.XGetImage(self.display, self.x.XDefaultRootWindow(self.display),
                                 px, py, 1, 1, all_planes, z_pixmap)
        value = self.x.XGetPixel(image, 0, 0) & 0xFFFFFF
        self.x.XDestroyImage(image)
        return value

    def close(self):
        self.x.XCloseDisplay(self.display)


def expected_frame():
    """[(x, y, rgb)] from FIRST_FRAME."""
    points = []
    for item in FIRST_FRAME.split(";"):
        where, colour = item.split("=")
        x, y = where.split(",")
        points.append((int(x), int(y), int(colour, 16)))
    return points


@unittest.skipUnless(os.environ.get("ZENTU_TEST_INSTALL") == "1" and os.geteuid() == 0,
                     "installs packages: only with ZENTU_TEST_INSTALL=1, as root")
class InstallAndRemove(Packages):
    def test_install_start_and_remove(self):
        for package in ["zentu-demo", "zentu-runtime"]:
            self.assertFalse(installed(package), package + " is installed already")
        result = run(["dpkg", "-i", self.runtime, self.app])
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        try:
            files = packaged_files("zentu-runtime") + packaged_files("zentu-demo")
            self.assertTrue(os.path.isfile("/opt/zentu-demo/index.mcb"))
            self.assertEqual(os.readlink("/usr/bin/zentu-demo"), "zentu-vm")
            self.draw_headless()
            self.start_the_application()
        finally:
            result = run(["dpkg", "-r", "zentu-demo", "zentu-runtime"])
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        for package in ["zentu-demo", "zentu-runtime"]:
            self.assertFalse(installed(package), package)
        left = [path for path in files if os.path.lexists(path) and not os.path.isdir(path)]
        self.assertEqual(left, [])
        for directory in ["/opt/zentu-demo", "/usr/share/doc/zentu-demo",
                          "/usr/share/doc/zentu-runtime"]:
            self.assertFalse(os.path.exists(directory), directory)

    def draw_headless(self):
        """The installed zentu-run finds its toolkit module: it draws the demo's first frame."""
        with tempfile.TemporaryDirectory() as work:
            script, frame = os.path.join(work, "draw.events"), os.path.join(work, "frame.png")
            with open(script, "w") as f:
                f.write("draw " + frame + "\n")
            # the demo's timer never stops: the time limit ends it
            result = run(["/usr/bin/zentu-run", "--events", script, "--time-limit", "1000",
                          "/opt/zentu-demo"])
            self.assertEqual(result.returncode, 124, result.stderr)
            self.assertTrue(os.path.getsize(frame) > 0)

    def start_the_application(self):
        if not os.path.exists("/usr/bin/zentu-vm"):
            print("\nskipped the start: this runtime package has no zentu-vm yet",
                  file=sys.stderr)
            return
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "800x480x24",
                                 "-nolisten", "tcp"], stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, text=True)
        bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        application = None
        try:
            display = ":" + xvfb.stdout.readline().strip()
            env = dict(os.environ, DISPLAY=display,
                       DBUS_SYSTEM_BUS_ADDRESS=bus.stdout.readline().strip(),
                       XDG_RUNTIME_DIR=tempfile.mkdtemp(dir=self.work),
                       ASAN_OPTIONS="detect_leaks=0")
            env.pop("QT_QPA_PLATFORM", None)
            # As the desktop entry starts it: by the launcher's name, from anywhere.
            application = subprocess.Popen(["zentu-demo", "--auto"], cwd="/", env=env,
                                           stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                           text=True)
            if FIRST_FRAME == "-":
                time.sleep(2)
                self.assert_running(application)
                print("\nskipped the frame check: no first frame is known for the packaged "
                      "application (examples/demo with its first-frame file)", file=sys.stderr)
                return
            self.assert_first_frame(display, application)
        finally:
            for process in [application, bus, xvfb]:
                if process:
                    process.terminate()
                    process.communicate(timeout=WAIT)

    def assert_running(self, application):
        if application.poll() is not None:
            self.fail("the application ended: " + application.communicate()[1])

    def assert_first_frame(self, display, application):
        screen = X11Screen(display)
        try:
            points = expected_frame()
            deadline = time.time() + WAIT
            while True:
                actual = [(x, y, screen.pixel(x, y)) for x, y, _ in points]
                if actual == points or time.time() > deadline:
                    break
                self.assert_running(application)
                time.sleep(0.2)
            self.assertEqual([f"{c:06X}" for _, _, c in actual],
                             [f"{c:06X}" for _, _, c in points])
        finally:
            screen.close()


if __name__ == "__main__":
    BUILD, APPDIR, FIRST_FRAME = sys.argv[1:4]
    unittest.main(argv=[sys.argv[0], *sys.argv[4:]])
