// The windowed runtime as a user meets it, timed from outside on a real X server:
//  - start-up: from just before the process is started to the moment the X server holds the
//    demo's first frame (every pixel that examples/demo/first-frame lists reads back);
//  - input to paint: from a key press (or release) sent through XTEST to the moment the X
//    server reports the window damaged with the square the demo lights while a key is held
//    in its new colour.
// Both ends are observed by a separate X client, so everything between counts: process
// start, loading, Qt's set-up, the entry calls, the repaint and its way to the server.
//
// usage: host_bench ZENTU_VM APPDIR FIRST_FRAME [STARTS] [PRESSES]
//   FIRST_FRAME: "x,y=RRGGBB;..."; DISPLAY and DBUS_SYSTEM_BUS_ADDRESS name the X server
//   and the system bus to use.

#include <xcb/damage.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Point {
    int x, y;
    uint32_t rgb;
};

// The square the demo lights while a key is held, and its two colours.
constexpr Point kHeld{770, 120, 0x30D050};
constexpr uint32_t kNotHeld = 0x485058;
constexpr auto kPatience = std::chrono::seconds(10);

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "host_bench: %s\n", why.c_str());
    std::exit(1);
}

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::vector<Point> parseFrame(const std::string& text) {
    std::vector<Point> points;
    std::stringstream items(text);
    std::string item;
    while (std::getline(items, item, ';')) {
        Point p{};
        if (std::sscanf(item.c_str(), "%d,%d=%x", &p.x, &p.y, &p.rgb) != 3)
            fail("not a point: " + item);
        points.push_back(p);
    }
    return points;
}

class Server {
public:
    Server() {
        connection = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(connection)) fail("cannot open the display");
        root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
        const xcb_query_extension_reply_t* damage =
            xcb_get_extension_data(connection, &xcb_damage_id);
        if (!damage || !damage->present) fail("the X server has no DAMAGE extension");
        damageEvent = damage->first_event + XCB_DAMAGE_NOTIFY;
        free(xcb_damage_query_version_reply(connection, xcb_damage_query_version(connection, 1, 1),
                                            nullptr));
    }
    ~Server() { xcb_disconnect(connection); }

    // The pixels of the screen at the points, asked for all at once.
    std::vector<uint32_t> pixels(const std::vector<Point>& points) {
        std::vector<xcb_get_image_cookie_t> cookies;
        for (const Point& p : points)
            cookies.push_back(
                xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, root, p.x, p.y, 1, 1, ~0u));
        std::vector<uint32_t> values;
        for (auto cookie : cookies) {
            xcb_get_image_reply_t* reply = xcb_get_image_reply(connection, cookie, nullptr);
            uint32_t value = 0xFFFFFFFF;
            if (reply && xcb_get_image_data_length(reply) >= 4)
                std::memcpy(&value, xcb_get_image_data(reply), 4);
            free(reply);
            values.push_back(value & 0xFFFFFF);
        }
        return values;
    }

    bool shows(const std::vector<Point>& points) {
        const std::vector<uint32_t> values = pixels(points);
        for (size_t i = 0; i < points.size(); ++i)
            if (values[i] != points[i].rgb) return false;
        return true;
    }

    // Damage reports for every window on the screen: the runtime's is among them.
    void watchWindows() {
        xcb_query_tree_reply_t* tree =
            xcb_query_tree_reply(connection, xcb_query_tree(connection, root), nullptr);
        if (!tree) fail("cannot list the windows");
        const xcb_window_t* children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
            const xcb_damage_damage_t damage = xcb_generate_id(connection);
            xcb_damage_create(connection, damage, children[i],
                              XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES);
        }
        free(tree);
        xcb_flush(connection);
    }

    // Waits for damage until the point shows its colour; false after the patience ran out.
    bool awaitPaint(const Point& point) {
        const auto deadline = Clock::now() + kPatience;
        while (Clock::now() < deadline) {
            xcb_generic_event_t* event = xcb_poll_for_event(connection);
            if (!event) {
                pollfd fd{xcb_get_file_descriptor(connection), POLLIN, 0};
                ::poll(&fd, 1, 100);
                continue;
            }
            const bool damaged = (event->response_type & 0x7F) == damageEvent;
            free(event);
            if (damaged && shows({point})) return true;
        }
        return false;
    }

    void drainEvents() {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) free(event);
    }

    xcb_keycode_t keycode(xcb_keysym_t keysym) {
        const xcb_setup_t* setup = xcb_get_setup(connection);
        const int count = setup->max_keycode - setup->min_keycode + 1;
        xcb_get_keyboard_mapping_reply_t* map = xcb_get_keyboard_mapping_reply(
            connection, xcb_get_keyboard_mapping(connection, setup->min_keycode, count), nullptr);
        if (!map) fail("cannot read the keyboard mapping");
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map);
        xcb_keycode_t found = 0;
        for (int i = 0; i < count * map->keysyms_per_keycode && !found; ++i)
            if (syms[i] == keysym)
                found =
                    static_cast<xcb_keycode_t>(setup->min_keycode + i / map->keysyms_per_keycode);
        free(map);
        if (!found) fail("no key gives the key symbol");
        return found;
    }

    void key(uint8_t type, xcb_keycode_t code) {
        xcb_test_fake_input(connection, type, code, XCB_CURRENT_TIME, root, 0, 0, 0);
        xcb_flush(connection);
    }

private:
    xcb_connection_t* connection;
    xcb_window_t root;
    uint8_t damageEvent;
};

pid_t start(const char* vm, const char* appdir) {
    const pid_t pid = fork();
    if (pid < 0) fail("fork failed");
    if (pid == 0) {
        if (chdir(appdir) != 0) _exit(127);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        execl(vm, vm, static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

void stop(Server& server, pid_t pid, xcb_keycode_t quit) {
    server.key(XCB_KEY_PRESS, quit);
    server.key(XCB_KEY_RELEASE, quit);
    for (int i = 0; i < 50; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

struct Summary {
    double best, median, p95, worst;
};

Summary summarise(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) {
        return values[std::min(values.size() - 1, size_t(q * values.size()))];
    };
    return {values.front(), at(0.5), at(0.95), values.back()};
}

void report(const char* what, const std::vector<double>& values) {
    const Summary s = summarise(values);
    std::printf("%-34s best %7.2f ms  median %7.2f ms  95%% %7.2f ms  worst %7.2f ms  (%zu)\n",
                what, s.best, s.median, s.p95, s.worst, values.size());
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) fail("usage: host_bench ZENTU_VM APPDIR FIRST_FRAME [STARTS] [PRESSES]");
    const std::vector<Point> frame = parseFrame(argv[3]);
    const int starts = argc > 4 ? std::atoi(argv[4]) : 10;
    const int presses = argc > 5 ? std::atoi(argv[5]) : 50;
    Server server;
    const xcb_keycode_t keyA = server.keycode('a');
    const xcb_keycode_t keyQ = server.keycode('q');

    std::vector<double> startUp, pressed, released;
    for (int round = 0; round < starts; ++round) {
        if (server.shows(frame)) fail("the screen shows the first frame before the start");
        const Clock::time_point begin = Clock::now();
        const pid_t pid = start(argv[1], argv[2]);
        while (!server.shows(frame)) {
            if (Clock::now() - begin > kPatience) fail("no first frame within 10 s");
            if (waitpid(pid, nullptr, WNOHANG) == pid)
                fail("zentu-vm ended before its first frame");
            std::this_thread::sleep_for(std::chrono::microseconds(250));
        }
        startUp.push_back(millisecondsSince(begin));

        server.watchWindows();
        for (int i = 0; i < presses / starts + 1; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(15));
            server.drainEvents();
            Clock::time_point sent = Clock::now();
            server.key(XCB_KEY_PRESS, keyA);
            if (!server.awaitPaint(kHeld)) fail("a key press was not painted");
            pressed.push_back(millisecondsSince(sent));
            std::this_thread::sleep_for(std::chrono::milliseconds(15));
            server.drainEvents();
            sent = Clock::now();
            server.key(XCB_KEY_RELEASE, keyA);
            if (!server.awaitPaint({kHeld.x, kHeld.y, kNotHeld}))
                fail("a key release was not painted");
            released.push_back(millisecondsSince(sent));
        }
        stop(server, pid, keyQ);
        // The next start must not find the old picture: the screen is black again once the
        // window has gone.
        const auto gone = Clock::now();
        while (server.shows(frame) && Clock::now() - gone < kPatience)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    report("start-up to first frame", startUp);
    report("key press to repaint", pressed);
    report("key release to repaint", released);
    return 0;
}
