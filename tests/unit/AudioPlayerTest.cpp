// The audio player against a real PulseAudio server that each test starts for itself in a
// private directory, with a null sink whose monitor parec records: what the player sent is
// read back sample by sample. The GLib default context, where PulseAudio's callbacks arrive,
// is driven here as the toolkit's event loop drives it in the runtime.

#include "DeviceExtensions.h"

#include "ErrorHandling.h"
#include "HostFileServices.h"
#include "InterpreterHarness.h"
#include "VectorObject.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <glib.h>
#include <pulse/pulseaudio.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr const char* kSink = "zentu_sink";
constexpr int kRate = 44100;
// Bounds for conditions that a working player meets within a few seconds; they only keep a
// broken one from hanging the suite.
constexpr double kPatience = 40.0;

bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream directories(path ? path : "/usr/bin:/bin");
    std::string directory;
    while (std::getline(directories, directory, ':'))
        if (access((directory + "/" + program).c_str(), X_OK) == 0) return true;
    return false;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeFile(const std::string& path, const std::vector<TUint8>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// A program of the test, with its standard output and error in files and its own
// environment additions; stopped with SIGTERM when destroyed.
class Child {
public:
    Child(std::vector<std::string> args, const std::string& output, const std::string& errors,
          const std::map<std::string, std::string>& environment = {}) {
        pid = fork();
        if (pid == 0) {
            // A test that is killed takes its server and recorder with it.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            for (const auto& [name, value] : environment) {
                if (value.empty())
                    unsetenv(name.c_str());
                else
                    setenv(name.c_str(), value.c_str(), 1);
            }
            if (!std::freopen(output.c_str(), "w", stdout)) _exit(126);
            if (!std::freopen(errors.c_str(), "w", stderr)) _exit(126);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execvp(argv[0], argv.data());
            _exit(127);
        }
    }
    ~Child() { stop(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool running() {
        if (pid <= 0) return false;
        if (waitpid(pid, nullptr, WNOHANG) == 0) return true;
        pid = -1;
        return false;
    }
    void stop() {
        if (pid <= 0) return;
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }

private:
    pid_t pid = -1;
};

// Runs the GLib default context until the condition holds; false when it never did.
bool runUntil(const std::function<bool()>& condition, double seconds = kPatience) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// A PulseAudio daemon in user mode, alone in its directory: no default configuration, a null
// sink in the player's own format and with no rewinds (so its monitor carries exactly what was
// played), and a socket in the directory. As root the daemon warns that it is meant to run
// with --system, and then runs in user mode all the same.
class SoundServer {
public:
    explicit SoundServer(const std::string& directory)
        : socketPath(directory + "/native"), logPath(directory + "/pulseaudio.log") {
        for (const char* sub : {"/run", "/state", "/xdg", "/config"})
            mkdir((directory + sub).c_str(), 0700);
        daemon = std::make_unique<Child>(
            std::vector<std::string>{
                "pulseaudio", "-n", "--daemonize=no", "--use-pid-file=no", "--exit-idle-time=-1",
                "--disallow-exit=yes", "--disable-shm=yes", "--realtime=no", "--high-priority=no",
                "--log-target=stderr",
                std::string("--load=module-null-sink sink_name=") + kSink +
                    " rate=44100 channels=1 format=s16le norewinds=1",
                "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socketPath},
            "/dev/null", logPath,
            std::map<std::string, std::string>{
                {"HOME", directory},
                {"XDG_RUNTIME_DIR", directory + "/xdg"},
                {"XDG_CONFIG_HOME", directory + "/config"},
                {"PULSE_RUNTIME_PATH", directory + "/run"},
                {"PULSE_STATE_PATH", directory + "/state"},
                // Neither a user's session bus nor one started for the display.
                {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + directory + "/no-bus"},
                {"DISPLAY", ""}});
    }

    std::string address() const { return "unix:" + socketPath; }
    std::string log() const { return readAll(logPath); }

    // Waits until the daemon accepts connections; false if it ended or never did.
    bool waitUntilListening() {
        return runUntil([&] {
                   if (!daemon->running()) return true;
                   return accepts();
               }) &&
               daemon->running();
    }

    // Streams playing on the null sink, as pactl lists them; -1 if pactl fails.
    int playbackStreams() const {
        const std::string command = "pactl --server=" + address() + " list short sink-inputs";
        FILE* listing = popen(command.c_str(), "r");
        if (!listing) return -1;
        int lines = 0;
        for (int c; (c = std::fgetc(listing)) != EOF;)
            if (c == '\n') ++lines;
        return pclose(listing) == 0 ? lines : -1;
    }

private:
    bool accepts() const {
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
        const bool connected =
            connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        close(fd);
        return connected;
    }

    std::string socketPath;
    std::string logPath;
    std::unique_ptr<Child> daemon;
};

// The test sound: sample k is k mod 65521 + 1, never 0, so silence and every position of the
// sound can be told apart.
TUint16 sampleAt(size_t k) {
    return TUint16(k % 65521 + 1);
}

std::vector<TUint8> sound(size_t samples) {
    std::vector<TUint8> bytes;
    for (size_t k = 0; k < samples; ++k) {
        bytes.push_back(TUint8(sampleAt(k)));
        bytes.push_back(TUint8(sampleAt(k) >> 8));
    }
    return bytes;
}

// A test sound as the recorded tests play it: 0.1 s of silence first. A null sink that is
// late under load catches up with the clock and can swallow the first milliseconds of a stream
// that has just started before its monitor sees them (50 ms, when it happens); the lead-in makes
// sure that only silence can be lost that way.
constexpr size_t kLeadIn = kRate / 10;

std::vector<TUint8> recordedSound(size_t samples) {
    std::vector<TUint8> bytes(2 * kLeadIn, 0);
    const std::vector<TUint8> ramp = sound(samples);
    bytes.insert(bytes.end(), ramp.begin(), ramp.end());
    return bytes;
}

TInt32 recordedBytes(size_t samples) {
    return TInt32(2 * (kLeadIn + samples));
}

// The sample that follows value in the test sound.
TUint16 successor(TUint16 value) {
    return TUint16(value % 65521 + 1);
}

// A stretch of the recording in which every sample follows the one before it in the test
// sound; silence inside a stretch is a pause, not a loss.
struct Run {
    TUint16 first;
    TUint16 last;
    size_t length;
};

// What the recording holds of a test sound. The sound repeats its values every 65521 samples,
// so a run is placed by its first sample, or by its last when it ends the sound.
struct Heard {
    std::vector<Run> runs;
    bool silenceAfter = false; // the recording goes on silent after its last sound sample

    size_t samples() const {
        size_t total = 0;
        for (const Run& run : runs) total += run.length;
        return total;
    }
    // The sound's last sample has played, and nothing since.
    bool ended(size_t length) const {
        return !runs.empty() && runs.back().last == sampleAt(length - 1) && silenceAfter;
    }
    // Every sample, in order, nothing else.
    bool complete(size_t length) const {
        return runs.size() == 1 && runs[0].first == sampleAt(0) && runs[0].length == length;
    }
    // The start of the sound, then a part left out, then the rest up to the end.
    bool restAfterGap(size_t length) const {
        if (runs.size() != 2 || runs[0].first != sampleAt(0) || runs[1].length >= length)
            return false;
        const size_t restStart = length - runs[1].length;
        return runs[1].first == sampleAt(restStart) && runs[0].length < restStart;
    }
};

std::ostream& operator<<(std::ostream& out, const Heard& heard) {
    out << heard.runs.size() << " runs:";
    for (const Run& run : heard.runs)
        out << " [" << run.first << ".." << run.last << ", " << run.length << "]";
    return out << (heard.silenceAfter ? " then silence" : "");
}

Heard listen(const std::string& recording) {
    Heard heard;
    const size_t count = recording.size() / 2;
    for (size_t i = 0; i < count; ++i) {
        const TUint16 value = TUint16(TUint8(recording[2 * i]) | TUint8(recording[2 * i + 1]) << 8);
        if (value == 0) {
            heard.silenceAfter = !heard.runs.empty();
            continue;
        }
        heard.silenceAfter = false;
        if (!heard.runs.empty() && value == successor(heard.runs.back().last)) {
            heard.runs.back().last = value;
            ++heard.runs.back().length;
        } else {
            heard.runs.push_back({value, value, 1});
        }
    }
    return heard;
}

// parec on the null sink's monitor, in the sound's format.
class Recorder {
public:
    Recorder(const std::string& directory, const std::string& server)
        : path(directory + "/recording.raw"),
          parec({"parec", "--server=" + server, "--raw", "--format=s16le", "--rate=44100",
                 "--channels=1", "--latency-msec=20",
                 std::string("--device=") + kSink + ".monitor"},
                path, directory + "/parec.log") {}

    // The monitor delivers silence while nothing plays: data means the recording runs.
    bool waitUntilRecording() {
        return runUntil([&] { return !readAll(path).empty(); });
    }
    Heard heard() const { return listen(readAll(path)); }
    bool waitUntilHeard(const std::function<bool(const Heard&)>& condition) {
        return runUntil([&] { return condition(heard()); });
    }

private:
    std::string path;
    Child parec;
};

// The harness's host with the real file services below the test's application directory.
class AppServices : public RecordingServices {
public:
    explicit AppServices(const std::string& root) : files(CAppsString(root.c_str())) {}
    ZARNOK::FileInputStream* openFileForReading(const CAppsString& name) override {
        return files.openFileForReading(name);
    }

private:
    HostFileServices files;
};

std::string makeDirectory() {
    std::string pattern = ::testing::TempDir() + "zentu-audio-XXXXXX";
    const char* made = mkdtemp(pattern.data());
    return made ? made : "";
}

void removeDirectory(const std::string& directory) {
    if (directory.size() > 12) std::system(("rm -rf '" + directory + "'").c_str());
}

// A machine loaded with a program that does nothing, so that the extension has host services,
// and the device extensions made on it. Without a server PULSE_SERVER names a socket nobody
// listens on.
class AudioPlayerFixture : public ::testing::Test {
protected:
    std::string directory = makeDirectory();
    std::string app = directory + "/app";
    std::unique_ptr<SoundServer> server;
    VirtualMachine vm;
    AppServices services{app};
    std::unique_ptr<DeviceExtensions> extensions;
    TInt32 nextSlot = 20;

    void SetUp() override {
        ASSERT_FALSE(directory.empty());
        mkdir(app.c_str(), 0700);
        setenv("PULSE_COOKIE", (directory + "/cookie").c_str(), 1);
        setenv("PULSE_SERVER", ("unix:" + directory + "/nobody-listens").c_str(), 1);
        ASSERT_EQ(runImage(vm, services, assembleOrThrow(program(""))).ending, Outcome::Returned);
    }
    void TearDown() override {
        extensions.reset();
        server.reset();
        removeDirectory(directory);
    }

    void startServer() {
        ASSERT_TRUE(onPath("pulseaudio") && onPath("parec") && onPath("pactl"))
            << "the audio tests need pulseaudio, parec and pactl (scripts/install-deps.sh)";
        server = std::make_unique<SoundServer>(directory);
        ASSERT_TRUE(server->waitUntilListening()) << server->log();
        setenv("PULSE_SERVER", server->address().c_str(), 1);
    }
    void makeExtensions() { extensions = std::make_unique<DeviceExtensions>(vm); }
    AudioPlayerExtension& audio() { return extensions->audio(); }
    void waitUntilReady() {
        ASSERT_TRUE(runUntil([&] { return audio().isReady(); }))
            << (server ? server->log() : "no server");
    }

    // A holder as applications pass it: a one-reference box, pinned so that only the tests
    // that mean to lose it do.
    Address newHolder() {
        const Address holder = vm.heap().allocate(4, 0, GC_CODE_REFERENCE_BOX);
        vm.heap().pin(holder);
        return holder;
    }
    Address stringValue(const std::string& text) {
        return vm.newStringValue(OString(vm.arena(), text));
    }
    Address byteArray(const std::vector<TUint8>& bytes) {
        return newByteVectorValue(vm.heap(), bytes.data(), TInt32(bytes.size()));
    }
    Address playerIn(Address holder) { return vm.arena().word(holder); }
    AudioPlayer* player(Address holder) { return audio().playerAt(playerIn(holder)); }
    pa_stream_state_t streamState(Address holder) {
        return pa_stream_get_state(player(holder)->stream());
    }
    static std::function<bool(const Heard&)> endHeard(size_t samples) {
        return [samples](const Heard& h) { return h.ended(samples); };
    }

    // Puts the arguments on the stack from slot nextSlot upwards and calls the opcode with the
    // last of them on top.
    TInt32 call(int opcode, const std::vector<TInt32>& arguments, TInt32* top = nullptr) {
        TInt32 slot = nextSlot;
        for (TInt32 argument : arguments) vm.setSlot(slot++, argument);
        const TInt32 at = slot - 1;
        if (top) *top = at;
        return extensions->call(DeviceExtensions::kAudioPlayer, opcode, at, vm.stackBase());
    }
    void loadFile(Address holder, const std::string& name) {
        call(AudioPlayerExtension::ELoadFromFile, {TInt32(holder), TInt32(stringValue(name)), 0});
    }
    void loadBytes(Address holder, const std::vector<TUint8>& bytes) {
        call(AudioPlayerExtension::ELoadFromBytes, {TInt32(holder), TInt32(byteArray(bytes)), 0});
    }
    void play(Address holder) { call(AudioPlayerExtension::EPlay, {TInt32(holder)}); }
    void flush(Address holder) { call(AudioPlayerExtension::EFlush, {TInt32(holder)}); }

    // The error an extension call raised: code and text.
    std::pair<TInt32, std::string> failure(const std::function<void()>& action) {
        clearLastError();
        try {
            action();
        } catch (const ErrorHandlingException&) {
            return {lastErrorCode(), lastErrorText().toUtf8()};
        }
        return {0, ""};
    }
};

using AudioPlayerTest = AudioPlayerFixture;
using AudioPlayerWithoutServerTest = AudioPlayerFixture;

TEST_F(AudioPlayerTest, ALoadedRampArrivesWholeAndInOrder) {
    startServer();
    makeExtensions();
    waitUntilReady();
    const size_t samples = kRate; // one second
    writeFile(app + "/ramp.raw", recordedSound(samples));
    Recorder recorder(directory, server->address());
    ASSERT_TRUE(recorder.waitUntilRecording());

    const Address holder = newHolder();
    loadFile(holder, "ramp.raw");
    play(holder);
    ASSERT_TRUE(recorder.waitUntilHeard(endHeard(samples))) << recorder.heard();
    EXPECT_TRUE(recorder.heard().complete(samples)) << recorder.heard();
    EXPECT_EQ(player(holder)->bytesWritten(), recordedBytes(samples));
}

// Whether the server became ready before or after the load, play runs while the new stream is
// still connecting and nothing can be written yet; the sound must still arrive whole.
TEST_F(AudioPlayerTest, LoadAndPlayQueuedBeforeTheServerIsReadyLoseNothing) {
    startServer();
    Recorder recorder(directory, server->address());
    ASSERT_TRUE(recorder.waitUntilRecording());
    makeExtensions();
    ASSERT_FALSE(audio().isReady());
    const size_t samples = kRate / 2;
    const Address holder = newHolder();
    loadBytes(holder, recordedSound(samples));
    play(holder);
    EXPECT_EQ(audio().waitingOperations(), 2);
    EXPECT_EQ(player(holder)->bytesWritten(), 0);

    ASSERT_TRUE(recorder.waitUntilHeard(endHeard(samples)));
    EXPECT_TRUE(recorder.heard().complete(samples)) << recorder.heard();
    EXPECT_EQ(audio().waitingOperations(), 0);
}

TEST_F(AudioPlayerTest, PlayRightAfterLoadOnAReadyServerLosesNothing) {
    startServer();
    makeExtensions();
    waitUntilReady();
    Recorder recorder(directory, server->address());
    ASSERT_TRUE(recorder.waitUntilRecording());
    const size_t samples = kRate / 2;
    const Address holder = newHolder();
    loadBytes(holder, recordedSound(samples));
    play(holder); // runs at once: the stream is still being created on the server
    EXPECT_EQ(audio().waitingOperations(), 0);
    EXPECT_EQ(streamState(holder), PA_STREAM_CREATING);

    ASSERT_TRUE(recorder.waitUntilHeard(endHeard(samples)));
    EXPECT_TRUE(recorder.heard().complete(samples)) << recorder.heard();
}

TEST_F(AudioPlayerTest, ASoundShorterThanThePreBufferStillPlays) {
    startServer();
    makeExtensions();
    waitUntilReady();
    for (size_t samples : {size_t(5), size_t(kRate / 10)}) {
        SCOPED_TRACE(samples);
        Recorder recorder(directory, server->address());
        ASSERT_TRUE(recorder.waitUntilRecording());
        const Address holder = newHolder();
        loadBytes(holder, recordedSound(samples));
        ASSERT_TRUE(runUntil([&] { return streamState(holder) == PA_STREAM_READY; }));
        play(holder);
        // Only the trigger starts a stream that never fills its pre-buffer.
        ASSERT_TRUE(runUntil([&] { return player(holder)->state() == AudioPlayer::Started; }));
        EXPECT_EQ(player(holder)->bytesWritten(), recordedBytes(samples));
        ASSERT_TRUE(recorder.waitUntilHeard(endHeard(samples)));
        EXPECT_TRUE(recorder.heard().complete(samples)) << recorder.heard();
        // The next sound starts from silence, so that it is heard from its start.
        vm.heap().unpin(holder);
        vm.heap().collect();
        ASSERT_TRUE(runUntil([&] { return server->playbackStreams() == 0; }));
    }
}

// A flush drops what the server holds; the rest of the sound follows, from where writing had
// got to, even when that rest is shorter than the pre-buffer the server then waits for.
TEST_F(AudioPlayerTest, FlushDuringALongSoundDropsTheBufferedPartAndPlaysTheRest) {
    startServer();
    makeExtensions();
    waitUntilReady();
    for (size_t tenths : {size_t(50), size_t(35)}) {
        SCOPED_TRACE(tenths);
        Recorder recorder(directory, server->address());
        ASSERT_TRUE(recorder.waitUntilRecording());
        const size_t samples = tenths * kRate / 10;
        const Address holder = newHolder();
        loadBytes(holder, recordedSound(samples));
        play(holder);
        ASSERT_TRUE(
            recorder.waitUntilHeard([&](const Heard& h) { return h.samples() > kRate / 10; }));
        const TInt32 written = player(holder)->bytesWritten();
        ASSERT_LT(written, recordedBytes(samples)) << "the server took the whole sound at once";
        flush(holder);
        ASSERT_TRUE(recorder.waitUntilHeard(endHeard(samples)))
            << "the rest of the sound never came: " << recorder.heard();
        EXPECT_TRUE(recorder.heard().restAfterGap(samples)) << recorder.heard();
        vm.heap().unpin(holder);
        vm.heap().collect();
        ASSERT_TRUE(runUntil([&] { return server->playbackStreams() == 0; }));
    }
}

// Play again restarts from the first byte, after what the server already holds.
TEST_F(AudioPlayerTest, PlayAgainRestartsFromTheFirstSample) {
    startServer();
    makeExtensions();
    waitUntilReady();
    Recorder recorder(directory, server->address());
    ASSERT_TRUE(recorder.waitUntilRecording());
    const size_t samples = 3 * kRate;
    const Address holder = newHolder();
    loadBytes(holder, recordedSound(samples));
    play(holder);
    ASSERT_TRUE(recorder.waitUntilHeard([&](const Heard& h) { return h.samples() > kRate / 10; }));
    ASSERT_LT(player(holder)->bytesWritten(), recordedBytes(samples));
    play(holder);
    EXPECT_EQ(player(holder)->bytesWritten(), 0);
    ASSERT_TRUE(recorder.waitUntilHeard([&](const Heard& h) {
        return h.runs.size() >= 2 && h.ended(samples);
    })) << recorder.heard();
    const Heard heard = recorder.heard();
    ASSERT_EQ(heard.runs.size(), 2u) << heard;
    EXPECT_EQ(heard.runs[0].first, sampleAt(0)) << heard;
    EXPECT_LT(heard.runs[0].length, samples) << heard;
    EXPECT_EQ(heard.runs[1].first, sampleAt(0)) << heard;
    EXPECT_EQ(heard.runs[1].length, samples) << heard;
}

// In the runtime nobody iterates GLib by hand: Qt's event loop runs the default GLib context.
TEST_F(AudioPlayerTest, QtsEventLoopDeliversTheCallbacks) {
    startServer();
    int argc = 1;
    char name[] = "AudioPlayerTest";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    makeExtensions();
    const Address holder = newHolder();
    loadBytes(holder, sound(10));
    play(holder);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(int(kPatience));
    while (player(holder)->state() != AudioPlayer::Started &&
           std::chrono::steady_clock::now() < end)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_TRUE(audio().isReady());
    EXPECT_EQ(player(holder)->state(), AudioPlayer::Started);
    EXPECT_EQ(player(holder)->bytesWritten(), 20);
}

TEST_F(AudioPlayerTest, FlushBeforeAnyPlayDoesNothing) {
    startServer();
    makeExtensions();
    waitUntilReady();
    const Address holder = newHolder();
    loadBytes(holder, sound(100));
    flush(holder);
    EXPECT_EQ(player(holder)->state(), AudioPlayer::Loaded);
    EXPECT_EQ(player(holder)->bytesWritten(), 0);
}

TEST_F(AudioPlayerTest, TheDiagnosticLinesOfInitialiseAndWrites) {
    startServer();
    makeExtensions();
    waitUntilReady();
    writeFile(app + "/ten.raw", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    const Address holder = newHolder();
    ::testing::internal::CaptureStderr();
    loadFile(holder, "ten.raw");
    runUntil([&] { return streamState(holder) == PA_STREAM_READY; });
    play(holder);
    runUntil([&] { return player(holder)->state() == AudioPlayer::Started; });
    const std::string lines = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(lines.find("End of initialize\n"), std::string::npos) << lines;
    // All ten bytes go in the first request, whatever its size.
    const size_t write = lines.find("writeSamples: req: ");
    ASSERT_NE(write, std::string::npos) << lines;
    const std::string first = lines.substr(write, lines.find('\n', write) - write);
    EXPECT_NE(first.find(", offset: 0, left: 10"), std::string::npos) << first;
    EXPECT_EQ(player(holder)->bytesWritten(), 10);
    EXPECT_EQ(player(holder)->state(), AudioPlayer::Started);
}

TEST_F(AudioPlayerTest, OperationsWaitingForTheServerKeepTheirPlayer) {
    startServer();
    makeExtensions();
    const Address holder = newHolder();
    loadBytes(holder, sound(100));
    const Address reference = playerIn(holder);
    vm.heap().unpin(holder);
    vm.heap().collect();
    ASSERT_NE(audio().playerAt(reference), nullptr) << "collected while initialise waited";
    EXPECT_TRUE(vm.heap().isPinned(reference));
    waitUntilReady();
    EXPECT_EQ(audio().waitingOperations(), 0);
    EXPECT_FALSE(vm.heap().isPinned(reference));
    EXPECT_NE(audio().playerAt(reference)->stream(), nullptr);
    vm.heap().collect();
    EXPECT_EQ(audio().playerAt(reference), nullptr);
    EXPECT_EQ(audio().livePlayers(), 0);
}

// The collector may free a player at any moment of its stream's life; the stream goes with it
// and no callback reaches the freed player.
TEST_F(AudioPlayerTest, AFreedPlayerLeavesNoStreamOnTheServer) {
    startServer();
    makeExtensions();
    waitUntilReady();
    const Address playing = newHolder();
    loadBytes(playing, sound(5 * kRate));
    play(playing);
    ASSERT_TRUE(runUntil([&] { return player(playing)->state() == AudioPlayer::Started; }));
    ASSERT_EQ(server->playbackStreams(), 1);

    // Freed before the server has even made its stream.
    const Address connecting = newHolder();
    loadBytes(connecting, sound(100));
    ASSERT_EQ(streamState(connecting), PA_STREAM_CREATING);
    vm.heap().unpin(playing);
    vm.heap().unpin(connecting);
    vm.heap().collect();
    EXPECT_EQ(audio().livePlayers(), 0);

    // A later stream is made after the freed one's: once it is ready the server has seen both.
    const Address later = newHolder();
    loadBytes(later, sound(100));
    ASSERT_TRUE(runUntil([&] { return streamState(later) == PA_STREAM_READY; }));
    EXPECT_TRUE(runUntil([&] { return server->playbackStreams() == 1; }))
        << server->playbackStreams() << " streams";
}

// The front end destroys the extensions before the machine, whose collector frees the players
// afterwards: by then they hold no stream and no extension.
TEST_F(AudioPlayerTest, PlayersOutlivingTheExtensionTouchNothingOfIt) {
    startServer();
    makeExtensions();
    waitUntilReady();
    const Address playing = newHolder(), connecting = newHolder(), waiting = newHolder();
    loadBytes(playing, sound(5 * kRate));
    play(playing);
    ASSERT_TRUE(runUntil([&] { return player(playing)->state() == AudioPlayer::Started; }));
    loadBytes(connecting, sound(100));
    play(connecting);
    AudioPlayer* const players[] = {player(playing), player(connecting)};
    extensions.reset();
    for (AudioPlayer* p : players) {
        EXPECT_FALSE(p->attached());
        EXPECT_EQ(p->stream(), nullptr);
    }

    // An extension that goes before the server is ready drops what waits, pins included.
    makeExtensions();
    loadBytes(waiting, sound(100));
    const Address waitingPlayer = playerIn(waiting);
    EXPECT_EQ(audio().waitingOperations(), 1);
    EXPECT_TRUE(vm.heap().isPinned(waitingPlayer));
    extensions.reset();
    EXPECT_FALSE(vm.heap().isPinned(waitingPlayer));

    // The main loops and contexts are gone; the collector frees the players now.
    for (Address holder : {playing, connecting, waiting}) vm.heap().unpin(holder);
    const int before = vm.heap().natives().count();
    vm.heap().collect();
    EXPECT_EQ(vm.heap().natives().count(), before - 3);
    EXPECT_TRUE(runUntil([&] { return server->playbackStreams() == 0; }));
}

TEST_F(AudioPlayerWithoutServerTest, LoadingSucceedsAndPlayIsSilentAndRaisesNothing) {
    makeExtensions();
    writeFile(app + "/ramp.raw", sound(1000));
    const Address fromFile = newHolder(), fromBytes = newHolder();
    loadFile(fromFile, "ramp.raw");
    loadBytes(fromBytes, sound(10));
    for (Address holder : {fromFile, fromBytes}) {
        ASSERT_NE(player(holder), nullptr);
        EXPECT_EQ(failure([&] { play(holder); }).first, 0);
        EXPECT_EQ(failure([&] { flush(holder); }).first, 0);
    }
    // The connection fails for good: nothing is kept waiting, pinned, for a server that never
    // comes.
    EXPECT_TRUE(runUntil([&] { return audio().waitingOperations() == 0; }));
    EXPECT_FALSE(audio().isReady());
    EXPECT_EQ(failure([&] { play(fromFile); }).first, 0);
    EXPECT_EQ(audio().waitingOperations(), 0);
    for (Address holder : {fromFile, fromBytes}) {
        EXPECT_EQ(player(holder)->stream(), nullptr);
        EXPECT_EQ(player(holder)->bytesWritten(), 0);
        vm.heap().unpin(holder);
    }
    vm.heap().collect();
    EXPECT_EQ(audio().livePlayers(), 0);
}

// An application's own calls: the holder is a box on its stack, the name a string value, and
// an error is an exception the application sees.
TEST_F(AudioPlayerWithoutServerTest, AnApplicationLoadsPlaysAndSeesItsErrors) {
    writeFile(app + "/ramp.raw", sound(10));
    VirtualMachine machine;
    AppServices host(app);
    DeviceExtensions devices(machine);
    host.extension = [&](VirtualMachine& running, int extension, int function) {
        return devices.call(extension, function, running.sp, running.stackBase());
    };
    const Outcome outcome = runImage(machine, host, assembleOrThrow(program(R"(
    push_int 0
    box
    push_local -1
    push_string "ramp.raw"
    push_int 0
    extension 28, 1
    push_local -1
    extension 28, 3
    push_local -1
    extension 28, 4
    extension 28, 12
    print
    push_int 0
    box
    extension 28, 3
)")));
    EXPECT_EQ(outcome.log, (std::vector<std::string>{"0", "NullPointerException: NULL pointer", "1",
                                                     "uncaught"}));
    ASSERT_TRUE(runUntil([&] { return devices.audio().waitingOperations() == 0; }));
    machine.heap().collect();
    EXPECT_EQ(devices.audio().livePlayers(), 0) << "the application no longer holds its player";
}

TEST_F(AudioPlayerWithoutServerTest, LoadErrorsAndTheirMessages) {
    makeExtensions();
    writeFile(app + "/empty.raw", {});
    const Address holder = newHolder();
    const struct {
        const char* what;
        std::function<void()> load;
        TInt32 code;
        std::string text;
    } cases[] = {
        {"missing file", [&] { loadFile(holder, "missing.raw"); }, KErrIO,
         "IOException: Could not open file: missing.raw"},
        {"refused name", [&] { loadFile(holder, "../outside.raw"); }, KErrIO,
         "IOException: Could not open file: ../outside.raw"},
        {"empty file", [&] { loadFile(holder, "empty.raw"); }, KErrInvalidArgument,
         "InvalidArgumentException: File is empty"},
        {"empty array", [&] { loadBytes(holder, {}); }, KErrIndexOutOfBounds, ""},
        {"null holder",
         [&] {
             call(1, {0, TInt32(stringValue("empty.raw")), 0});
         },
         KErrNullPointer, ""},
        {"null name",
         [&] {
             call(1, {TInt32(holder), 0, 0});
         },
         KErrNullPointer, ""},
        {"null array",
         [&] {
             call(2, {TInt32(holder), 0, 0});
         },
         KErrNullPointer, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto [code, text] = failure(c.load);
        EXPECT_EQ(code, c.code);
        if (!c.text.empty()) {
            EXPECT_EQ(text, c.text);
        }
        EXPECT_EQ(playerIn(holder), 0u);
        EXPECT_EQ(audio().livePlayers(), 0);
    }
}

TEST_F(AudioPlayerWithoutServerTest, LoadsReturnTheTopBelowTheirThreeArgumentsAndFillTheHolder) {
    makeExtensions();
    writeFile(app + "/ramp.raw", sound(3));
    const Address holder = newHolder();
    TInt32 top = 0;
    vm.setSlot(nextSlot + 3, 77);
    TInt32 result = call(1, {TInt32(holder), TInt32(stringValue("ramp.raw")), 0}, &top);
    EXPECT_EQ(result, top - 3);
    ASSERT_NE(player(holder), nullptr);
    EXPECT_EQ(player(holder)->byteCount(), 6);
    EXPECT_EQ(player(holder)->state(), AudioPlayer::Loaded);
    EXPECT_EQ(vm.heap().entry(playerIn(holder) - kHeaderSize).objectKind, -1);
    EXPECT_EQ(vm.heap().entry(playerIn(holder) - kHeaderSize).gcCode, GC_CODE_PLAIN);
    EXPECT_EQ(vm.heap().entry(playerIn(holder) - kHeaderSize).size, 28u);
    const Address first = playerIn(holder);
    result = call(2, {TInt32(holder), TInt32(byteArray({1, 2, 3, 4, 5})), 0}, &top);
    EXPECT_EQ(result, top - 3);
    EXPECT_NE(playerIn(holder), first); // a new player each time
    EXPECT_EQ(player(holder)->byteCount(), 5);
    EXPECT_EQ(vm.slot(nextSlot + 3), 77);
    for (int opcode : {3, 4}) {
        result = call(opcode, {TInt32(holder)}, &top);
        EXPECT_EQ(result, top - 1);
    }
}

TEST_F(AudioPlayerWithoutServerTest, AHolderWithoutALivePlayerIsAnApplicationError) {
    makeExtensions();
    const Address loaded = newHolder();
    loadBytes(loaded, sound(4));
    const Address freed = newHolder();
    loadBytes(freed, sound(4));
    const Address stale = playerIn(freed);
    vm.heap().unpin(freed);
    runUntil([&] { return audio().waitingOperations() == 0; });
    vm.heap().collect();
    ASSERT_EQ(audio().playerAt(stale), nullptr);

    const Address other = newHolder();
    const struct {
        const char* what;
        Address holder;
        Address word;
        TInt32 code;
    } cases[] = {
        {"null holder", 0, 0, KErrNullPointer},
        {"never loaded", other, 0, KErrNullPointer},
        {"a string", other, stringValue("x"), KErrVM},
        {"a byte array", other, byteArray({1}), KErrVM},
        {"a freed player", other, stale, KErrVM},
        {"inside a player", other, playerIn(loaded) + 4, KErrVM},
        {"an odd address", other, 0x12345, KErrVM},
        {"the top of the arena", other, 0xFFFFFFFC, KErrVM},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.holder) vm.arena().setWord(c.holder, c.word);
        for (int opcode : {3, 4}) {
            const auto [code, text] = failure([&] { call(opcode, {TInt32(c.holder)}); });
            EXPECT_EQ(code, c.code);
            if (code == KErrVM) {
                EXPECT_EQ(text, "VMException: AudioPlayer: Not a player");
            }
        }
    }
}

TEST_F(AudioPlayerWithoutServerTest, TheOpcodesThatDoNothingAndTheirTops) {
    makeExtensions();
    const struct {
        int opcode;
        TInt32 popped;
        bool answers;
    } cases[] = {{6, 1, false},  {7, 0, true},  {8, 0, true},  {9, 2, false}, {10, 0, true},
                 {11, 2, false}, {12, 0, true}, {13, 0, true}, {14, 3, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.opcode);
        for (TInt32 i = 0; i < 8; ++i) vm.setSlot(10 + i, 100 + i);
        EXPECT_EQ(extensions->call(28, c.opcode, 14, vm.stackBase()), 14 - c.popped);
        for (TInt32 i = 0; i < 8; ++i)
            EXPECT_EQ(vm.slot(10 + i), (c.answers && i == 4) ? 0 : 100 + i) << "slot " << 10 + i;
    }
}

TEST_F(AudioPlayerWithoutServerTest, UnknownOpcodesAreFatal) {
    makeExtensions();
    for (int opcode : {0, 5, 15, 16, -1, 28, 1000}) {
        SCOPED_TRACE(opcode);
        EXPECT_THROW(extensions->call(28, opcode, 4, vm.stackBase()), ErrorHandlingException);
        EXPECT_EQ(lastErrorCode(), KErrFatal);
        EXPECT_EQ(vm.explanation(), "AudioPlayer: Unknown opcode!");
    }
}

TEST_F(AudioPlayerWithoutServerTest, ArgumentsOffTheStackAreFatalNotWildAccesses) {
    makeExtensions();
    const struct {
        int opcode;
        TInt32 top;
    } cases[] = {{1, 1},
                 {2, 0},
                 {3, -1},
                 {4, -1},
                 {6, -1},
                 {7, -1},
                 {7, VirtualMachine::kStackSlots},
                 {9, 0},
                 {14, 1},
                 {3, VirtualMachine::kStackSlots}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.opcode << " at " << c.top);
        EXPECT_THROW(extensions->call(28, c.opcode, c.top, vm.stackBase()), ErrorHandlingException);
        EXPECT_EQ(lastErrorCode(), KErrFatal);
        EXPECT_EQ(vm.explanation(), "AudioPlayer: operand stack out of bounds");
    }
}

} // namespace
