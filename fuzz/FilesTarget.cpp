// The application's file services and streams, driven by a byte-coded sequence of operations
// inside a private application directory. Names come from the input (any byte, so "..", "/",
// "\\", ":" and NUL all occur); counts and offsets too. After every input nothing outside the
// application directory may have changed: three levels of sentinel files around it are
// compared with what they were.
//
// Input: operations one after the other, each an opcode byte followed by its operands. A name is
// a length byte (at most 24) and that many bytes, each one UTF-16 unit; a count is one byte.

#include "AppsFileIO.h"
#include "HostFileServices.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

namespace fs = std::filesystem;

namespace {

// Path relative to the root -> contents ("/" for a directory).
using Snapshot = std::map<std::string, std::string>;

struct Sandbox {
    fs::path root, app;
    Snapshot before;

    Sandbox() {
        root = fs::temp_directory_path() / ("zentu-fuzz-files-" + std::to_string(getpid()));
        fs::remove_all(root);
        app = root / "a" / "b" / "app";
        fs::create_directories(app);
        for (const fs::path& level : {root, root / "a", root / "a" / "b"}) {
            std::ofstream(level / "sentinel") << "keep " << level.string();
            fs::create_directories(level / "dir");
        }
        before = outside();
    }
    ~Sandbox() { fs::remove_all(root); }

    // Everything below the root that is not below the application directory.
    Snapshot outside() const {
        Snapshot seen;
        for (auto it = fs::recursive_directory_iterator(root); it != fs::end(it); ++it) {
            const fs::path path = it->path();
            if (path == app) {
                it.disable_recursion_pending();
                continue;
            }
            const std::string key = fs::relative(path, root).string();
            if (it->is_directory()) {
                seen[key] = "/";
            } else {
                std::ifstream in(path, std::ios::binary);
                seen[key] = std::string(std::istreambuf_iterator<char>(in), {});
            }
        }
        return seen;
    }

    void emptyApplicationDirectory() const {
        for (const fs::directory_entry& entry : fs::directory_iterator(app))
            fs::remove_all(entry.path());
    }
};

class Operations {
public:
    Operations(const std::uint8_t* data, std::size_t size, HostFileServices& files)
        : at(data), end(data + size), files(files) {}

    void run() {
        while (at < end) step(byte() % 20);
    }

private:
    const std::uint8_t* at;
    const std::uint8_t* end;
    HostFileServices& files;
    std::unique_ptr<ZARNOK::FileOutputStream> output;
    std::unique_ptr<ZARNOK::FileInputStream> input;

    std::uint8_t byte() { return at < end ? *at++ : 0; }
    CAppsString name() {
        const int length = byte() % 25;
        TUint16 units[24];
        for (int i = 0; i < length; ++i) units[i] = byte();
        return CAppsString(units, length);
    }
    // A count biased to small values, with the edges of a 32-bit count now and then.
    TInt32 count() {
        const std::uint8_t b = byte();
        if (b == 0xFF) return -1;
        if (b == 0xFE) return INT32_MAX;
        return b;
    }

    void step(int operation) {
        switch (operation) {
        case 0: output.reset(files.openFileForWriting(name(), true)); break;
        case 1: output.reset(files.openFileForWriting(name(), false)); break;
        case 2: input.reset(files.openFileForReading(name())); break;
        case 3: write(); break;
        case 4:
            if (output) output->writeByte(byte());
            break;
        case 5:
            if (output) output->seek(count());
            break;
        case 6:
            if (output) output->position(), output->streamSize();
            break;
        case 7: read(); break;
        case 8:
            if (input) input->readByte(), input->atEnd();
            break;
        case 9:
            if (input) input->seek(count());
            break;
        case 10:
            if (input) input->position(), input->streamSize(), input->fileSize();
            break;
        case 11: files.deleteFile(name()); break;
        case 12: files.fileExists(name()); break;
        case 13: rename(false); break;
        case 14: list(); break;
        case 15: files.createDirectory(name()); break;
        case 16: files.removeDirectory(name()); break;
        case 17: rename(true); break;
        case 18: files.directoryExists(name()); break;
        default: output.reset(), input.reset(); break;
        }
    }
    void write() {
        const TInt32 n = count();
        const std::size_t available = std::size_t(end - at);
        if (!output || n < 0 || std::size_t(n) > available) return;
        output->write(at, n);
        at += n;
    }
    void read() {
        const TInt32 n = count();
        if (!input || n < 0 || n > 4096) return;
        std::uint8_t buffer[4096];
        input->read(buffer, n);
    }
    void rename(bool directories) {
        const CAppsString from = name(), to = name();
        directories ? files.renameDirectory(from, to) : files.renameFile(from, to);
    }
    void list() {
        Vec<CAppsString> found, directories;
        files.listDirectory(name(), found, directories);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 16) return -1;
    static Sandbox sandbox;
    {
        const std::string directory = sandbox.app.string();
        HostFileServices files{CAppsString(std::string_view(directory))};
        Operations(data, size, files).run();
    }
    if (sandbox.outside() != sandbox.before) {
        std::fprintf(stderr, "files target: something outside the application directory changed\n");
        std::abort();
    }
    sandbox.emptyApplicationDirectory();
    return 0;
}
