// The file natives on the real file services: holders that the collector frees close their
// files, no name reaches outside the application directory, forged holders are refused, and
// a full disk or a read-only directory fails the application's writes.

#include "InterpreterHarness.h"

#include "HostFileServices.h"
#include "QtText.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>

namespace {

// The harness's recording host with the real file services below an application directory.
class FileServices : public RecordingServices {
public:
    explicit FileServices(const QString& root) : files(fromQString(root)) {}

    ZARNOK::FileOutputStream* openFileForWriting(const CAppsString& n, bool truncate) override {
        return files.openFileForWriting(n, truncate);
    }
    ZARNOK::FileInputStream* openFileForReading(const CAppsString& n) override {
        return files.openFileForReading(n);
    }
    bool deleteFile(const CAppsString& n) override { return files.deleteFile(n); }
    bool fileExists(const CAppsString& n) override { return files.fileExists(n); }
    bool renameFile(const CAppsString& a, const CAppsString& b) override {
        return files.renameFile(a, b);
    }
    bool listDirectory(const CAppsString& n, Vec<CAppsString>& f, Vec<CAppsString>& d) override {
        return files.listDirectory(n, f, d);
    }
    bool createDirectory(const CAppsString& n) override { return files.createDirectory(n); }
    bool removeDirectory(const CAppsString& n) override { return files.removeDirectory(n); }
    bool renameDirectory(const CAppsString& a, const CAppsString& b) override {
        return files.renameDirectory(a, b);
    }
    bool directoryExists(const CAppsString& n) override { return files.directoryExists(n); }

private:
    HostFileServices files;
};

// An assembly string literal for a file name.
std::string literal(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

class FileNativesTest : public ::testing::Test {
protected:
    QTemporaryDir temporary;
    QString root = temporary.path();
    QString app = root + "/app";

    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(app));
        writeFile(app + "/in.txt", "inside");
    }

    static void writeFile(const QString& path, const QByteArray& bytes) {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }
    static QByteArray readFile(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    Outcome run(VirtualMachine& vm, const std::string& body, const std::string& methods = "") {
        FileServices services(app);
        return runImage(vm, services, assembleOrThrow(program(body, methods)));
    }
    Outcome run(const std::string& body, const std::string& methods = "") {
        VirtualMachine vm;
        return run(vm, body, methods);
    }

    // Descriptors of this process open on the file.
    static int openDescriptors(const QString& path) {
        const QString target = QFileInfo(path).canonicalFilePath();
        int count = 0;
        QDirIterator descriptors("/proc/self/fd", QDir::Files | QDir::System);
        while (descriptors.hasNext())
            if (QFileInfo(descriptors.next()).symLinkTarget() == target) ++count;
        return count;
    }

    // Every file and directory outside the application directory, with its bytes.
    std::map<QString, QByteArray> outside() const {
        std::map<QString, QByteArray> found;
        QDirIterator entries(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                             QDirIterator::Subdirectories);
        while (entries.hasNext()) {
            const QString path = entries.next();
            if (path == app || path.startsWith(app + "/")) continue;
            found[path] = QFileInfo(path).isDir() ? QByteArray("<dir>") : readFile(path);
        }
        return found;
    }
};

const char* const kOpenReader = R"(
    push_int 0
    box
    push_local -1
    push_string "in.txt"
    native 24, 1
)";

TEST_F(FileNativesTest, AReaderIsClosedWhenTheCollectorFreesItsHolder) {
    const QString file = app + "/in.txt";
    {
        VirtualMachine vm;
        // main's collection finds the box only on the stack it has left: the holder goes.
        const Outcome outcome = run(vm, std::string(kOpenReader) + R"(
    push_local -1
    native 23, 2
    print
)");
        ASSERT_EQ(outcome.log, std::vector<std::string>{"-1"});
        EXPECT_EQ(openDescriptors(file), 0);
    }
    {
        VirtualMachine vm;
        // Reachable from the application object, the reader stays open until the machine goes.
        const Outcome outcome = run(vm, std::string(kOpenReader) + "    native 32, 5\n");
        ASSERT_EQ(outcome.log, std::vector<std::string>{});
        EXPECT_EQ(openDescriptors(file), 1);
    }
    EXPECT_EQ(openDescriptors(file), 0);
    {
        VirtualMachine vm;
        // Reopening replaces the holder; the old one is closed by the next collection.
        run(vm, std::string(kOpenReader) + R"(
    dup
    push_string "in.txt"
    native 24, 1
    native 32, 5
)");
        EXPECT_EQ(openDescriptors(file), 1);
    }
}

TEST_F(FileNativesTest, ForgedAndRetypedHoldersAreApplicationErrors) {
    const Outcome outcome = run(R"(
    push_handler -1, forged
    new_object 12, 2            ; a stream holder made by bytecode: TYPEID 5, no stream
    dup
    push_int 5
    store
    box
    native 24, 3
forged:
    adjust_stack -1
)" + std::string(kOpenReader) + R"(
    push_handler -1, copied
    new_object 12, 2            ; the real holder's words copied into another entry
    dup
    push_int 5
    store
    dup
    field_addr 1
    push_local -3
    deref
    field_addr 1
    deref
    store
    box
    push_int 1
    native 23, 3
copied:
    adjust_stack -1
    push_local -1               ; the real holder retyped as a writer
    deref
    push_int 6
    store
    push_local -1
    native 21, 2
    print
    push_handler -1, retyped
    push_local -1
    native 24, 3
retyped:
    adjust_stack -1
    push_local -1
    deref
    push_int 5
    store
    push_local -1
    native 24, 4                ; typed back, it works again
    print
)");
    EXPECT_EQ(outcome.log, (std::vector<std::string>{"IOException: File is not open", "7",
                                                     "IOException: File is not open", "7", "0",
                                                     "VMException: Invalid TYPEID", "10", "6"}));
}

// Each way out of the application directory, tried with every operation that takes a name.
TEST_F(FileNativesTest, NoNameReachesOutsideTheApplicationDirectory) {
    writeFile(root + "/outside.txt", "secret");
    writeFile(root + "/outside/keep.txt", "kept");
    writeFile(root + "/apple/x.txt", "sibling");
    const std::map<QString, QByteArray> before = outside();
    const std::string refused[] = {
        "..",
        "../outside.txt",
        "../outside",
        "../apple/x.txt",
        "a/../../outside.txt",
        "in.txt/../../outside.txt",
        "/../outside.txt",
        "//..//outside.txt",
        "..\\outside.txt",
        "\\..\\outside.txt",
        "a\\..\\..\\outside.txt",
        "x/..",
        "x/../",
        "...",
        "..../outside.txt",
        "outside.txt/..",
        "c:outside.txt",
        "C:\\outside.txt",
        "C:/outside.txt",
        "\\\\?\\C:\\outside.txt",
        "file:///outside.txt",
        "|outside.txt",
        "in.txt|cat",
    };
    for (const std::string& name : refused) {
        SCOPED_TRACE(name);
        const std::string n = literal(name);
        // Every operation must raise: a logged "escaped" is an operation that did not.
        std::string body;
        int label = 0;
        auto attempt = [&](const std::string& code) {
            const std::string l = "L" + std::to_string(label++);
            body += "    push_handler -1, " + l + "\n" + code + "    push_string \"escaped " + l +
                    "\"\n    native 30, 1\n    adjust_handlers -1\n    jump " + l + "_end\n" + l +
                    ":\n    adjust_stack -1\n" + l + "_end:\n";
        };
        const std::string target = "    push_int 0\n    box\n";
        attempt(target + "    push_string " + n + "\n    native 24, 1\n");
        attempt(target + "    push_string " + n + "\n    push_int 0\n    native 22, 1\n");
        attempt(target + "    push_string " + n + "\n    push_int 1\n    native 22, 1\n");
        for (int function : {3, 4, 5, 6, 7, 8})
            attempt("    push_int 0\n    push_string " + n + "\n    native 25, " +
                    std::to_string(function) + "\n");
        for (int function : {9, 10}) {
            attempt("    push_int 0\n    push_string " + n +
                    "\n    push_string \"moved\"\n    native 25, " + std::to_string(function) +
                    "\n");
            attempt("    push_int 0\n    push_string \"in.txt\"\n    push_string " + n +
                    "\n    native 25, " + std::to_string(function) + "\n");
        }
        for (int function : {1, 2})
            body += "    push_int 0\n    push_string " + n + "\n    native 25, " +
                    std::to_string(function) + "\n    print\n";
        const Outcome outcome = run(body);
        const std::string log = ::testing::PrintToString(outcome.log);
        EXPECT_EQ(log.find("escaped"), std::string::npos) << log;
        EXPECT_EQ(outcome.log.size(), 13u * 2 + 2) << log;
        EXPECT_EQ(outcome.log.back(), "0");
        EXPECT_EQ(outcome.log[outcome.log.size() - 2], "0");
        EXPECT_EQ(outside(), before);
        EXPECT_EQ(readFile(app + "/in.txt"), "inside");
    }
}

// Names that are allowed but look like a way out stay below the directory.
TEST_F(FileNativesTest, AbsoluteAndOddlySeparatedNamesStayBelowTheDirectory) {
    writeFile(root + "/outside.txt", "secret");
    const std::map<QString, QByteArray> before = outside();
    const Outcome outcome = run(R"(
    push_int 0
    push_string "/outside.txt"
    native 25, 1
    print
    push_int 0
    box
    push_local -1
    push_string "//outside.txt"
    push_int 1
    native 22, 1                    ; creates app/outside.txt
    push_int 0
    push_string "mine"
    native 28, 1
    native 21, 3
    push_int 0
    push_string "\\tmp\\x//y.txt"
    native 25, 7
    push_int 0
    push_string "/outside.txt"
    push_string "\\renamed.txt"
    native 25, 9
    push_int 0
    push_string "/"
    native 25, 6                    ; the application directory itself
    push_local -1
    native 7, 11
    print
)");
    EXPECT_EQ(outcome.log, (std::vector<std::string>{"0", "2"}));
    EXPECT_EQ(outside(), before);
    EXPECT_EQ(readFile(app + "/renamed.txt"), "mine");
    EXPECT_EQ(readFile(app + "/tmp/x/y.txt"), "");
}

// A tmpfs mounted for the test; unmounted again when it goes.
class Mount {
public:
    Mount(const QString& path, const char* options) : where(path.toStdString()) {
        QDir().mkpath(path);
        mounted = ::mount("tmpfs", where.c_str(), "tmpfs", 0, options) == 0;
        if (!mounted) failure = std::strerror(errno);
    }
    ~Mount() {
        if (mounted) ::umount2(where.c_str(), MNT_DETACH);
    }
    bool remountReadOnly() {
        return ::mount("tmpfs", where.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }
    bool mounted = false;
    std::string failure;

private:
    std::string where;
};

// Writes chunks of the given size, at most limit times, until one fails; logs the error and
// how many succeeded.
std::string writeChunks(const char* openWriter, int size, int limit) {
    return std::string(openWriter) + R"(
    push_string ""
    push_local -1
    push_int 120
    push_int )" +
           std::to_string(size) + R"(
    native 8, 5
    push_int 0
    push_local -2
    native 28, 1                    ; W, S, B
    push_int 0                      ; W, S, B, count
    push_handler -1, failed
loop:
    push_local -1
    push_int )" +
           std::to_string(limit) + R"(
    lt
    jump_if_false done
    push_local -4
    push_local -3
    native 21, 3
    push_local_addr -1
    inc_cell
    jump loop
done:
    adjust_handlers -1
    push_string "no failure"
    native 30, 1
    jump end
failed:
    adjust_stack -1
end:
    print
)";
}

const char* const kOpenFull = R"(
    push_int 0
    box
    push_local -1
    push_string "full/big.bin"
    push_int 0
    native 22, 1
)";
const char* const kAppendFull = R"(
    push_int 0
    box
    push_local -1
    push_string "full/big.bin"
    push_int 1
    native 22, 1
)";

// Every write the application was told succeeded is on the disk: small chunks that stdio
// would otherwise keep back fail as surely as large ones.
TEST_F(FileNativesTest, AFullDiskFailsTheWriteThatDoesNotFit) {
    for (int chunk : {16384, 1000, 1}) {
        SCOPED_TRACE(chunk);
        QDir().mkpath(app + "/full");
        Mount disk(app + "/full", "size=16k");
        if (!disk.mounted) GTEST_SKIP() << "cannot mount a tmpfs here (" << disk.failure << ")";
        const int limit = 2 * 16384 / chunk;
        const Outcome first = run(writeChunks(kOpenFull, chunk, limit));
        ASSERT_EQ(first.log.size(), 3u) << ::testing::PrintToString(first.log);
        EXPECT_EQ(first.log[0], "IOException");
        EXPECT_EQ(first.log[1], "7");
        const qint64 written = std::stoll(first.log[2]) * chunk;
        EXPECT_LE(written, 16384);
        EXPECT_GE(QFileInfo(app + "/full/big.bin").size(), written)
            << "a write reported as done is missing";

        // Appending to the full disk fails too, and keeps what the file held.
        const QByteArray kept = readFile(app + "/full/big.bin");
        const Outcome second = run(writeChunks(kAppendFull, chunk, limit));
        ASSERT_EQ(second.log.size(), 3u) << ::testing::PrintToString(second.log);
        EXPECT_EQ(second.log[0], "IOException");
        const QByteArray after = readFile(app + "/full/big.bin");
        EXPECT_TRUE(after.startsWith(kept));
        EXPECT_GE(after.size(), kept.size() + std::stoll(second.log[2]) * chunk);
    }
}

// A directory the process may not write: the permission bits for an ordinary user, a
// read-only mount for root, whom permission bits do not stop.
TEST_F(FileNativesTest, AReadOnlyDirectoryFailsEveryWrite) {
    const QString directory = app + "/ro";
    std::unique_ptr<Mount> mount;
    if (geteuid() == 0) {
        mount = std::make_unique<Mount>(directory, "size=64k");
        if (!mount->mounted)
            GTEST_SKIP() << "running as root, and cannot mount a read-only tmpfs ("
                         << mount->failure << ")";
    }
    writeFile(directory + "/file.txt", "old");
    ASSERT_TRUE(QDir().mkpath(directory + "/sub"));
    if (mount) {
        ASSERT_TRUE(mount->remountReadOnly()) << std::strerror(errno);
    } else {
        ASSERT_TRUE(QFile::setPermissions(directory + "/file.txt", QFile::ReadOwner));
        ASSERT_TRUE(QFile::setPermissions(directory, QFile::ReadOwner | QFile::ExeOwner));
    }
    std::string body;
    int label = 0;
    auto attempt = [&](const std::string& code) {
        const std::string l = "L" + std::to_string(label++);
        body += "    push_handler -1, " + l + "\n" + code + "    push_string \"wrote " + l +
                "\"\n    native 30, 1\n    adjust_handlers -1\n    jump " + l + "_end\n" + l +
                ":\n    adjust_stack -1\n" + l + "_end:\n";
    };
    for (const char* name : {"ro/new.txt", "ro/file.txt"})
        for (int mode : {0, 1})
            attempt(std::string("    push_int 0\n    box\n    push_string \"") + name +
                    "\"\n    push_int " + std::to_string(mode) + "\n    native 22, 1\n");
    attempt("    push_int 0\n    push_string \"ro/file.txt\"\n    native 25, 7\n");
    attempt("    push_int 0\n    push_string \"ro/made\"\n    native 25, 8\n");
    attempt("    push_int 0\n    push_string \"ro/file.txt\"\n    native 25, 3\n");
    attempt("    push_int 0\n    push_string \"ro/file.txt\"\n    push_string \"moved.txt\"\n"
            "    native 25, 9\n");
    attempt("    push_int 0\n    push_string \"ro/sub\"\n    native 25, 4\n");
    const Outcome outcome = run(body);
    if (!mount)
        QFile::setPermissions(directory, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const std::string log = ::testing::PrintToString(outcome.log);
    EXPECT_EQ(log.find("wrote"), std::string::npos) << log;
    EXPECT_EQ(std::count(outcome.log.begin(), outcome.log.end(), "7"), 9) << log;
    EXPECT_EQ(readFile(directory + "/file.txt"), "old");
    EXPECT_FALSE(QFile::exists(directory + "/new.txt"));
    EXPECT_FALSE(QFile::exists(app + "/moved.txt"));
    EXPECT_TRUE(QDir(directory + "/sub").exists());
}

} // namespace
