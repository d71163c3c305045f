#include "HostFileServices.h"

#include "AppsFileIO.h"
#include "QtText.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

class HostFileServicesTest : public ::testing::Test {
protected:
    QTemporaryDir temporary;
    QString root = temporary.path() + "/app";
    HostFileServices files{fromQString(root)};

    void SetUp() override { ASSERT_TRUE(QDir().mkpath(root)); }

    QString path(const QString& relative) const { return root + "/" + relative; }

    void writeFile(const QString& relative, const QByteArray& bytes) const {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path(relative)).path()));
        QFile file(path(relative));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }

    QByteArray readFile(const QString& relative) const {
        QFile file(path(relative));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    void writeThroughService(const char* name, bool truncate, const QByteArray& bytes) {
        std::unique_ptr<ZARNOK::FileOutputStream> stream(files.openFileForWriting(name, truncate));
        ASSERT_TRUE(stream);
        ASSERT_TRUE(stream->write(reinterpret_cast<const TUint8*>(bytes.constData()),
                                  static_cast<TInt32>(bytes.size())));
    }

    static std::vector<std::string> sorted(const Vec<CAppsString>& names) {
        std::vector<std::string> result;
        for (const CAppsString& name : names) result.push_back(name.toUtf8());
        std::sort(result.begin(), result.end());
        return result;
    }
};

CAppsString withNul() {
    const TUint16 units[] = {'a', 0, 'b'};
    return CAppsString(units, 3);
}

TEST_F(HostFileServicesTest, EveryOperationRefusesBadNamesWithoutTouchingTheDisk) {
    writeFile("a/b", "kept");
    ASSERT_TRUE(QDir().mkpath(path("c/d")));
    const CAppsString bad[] = {"", "a/../b", "c:x", "a|b", "..", "x..y", withNul()};
    for (const CAppsString& name : bad) {
        SCOPED_TRACE(name.toUtf8());
        EXPECT_FALSE(HostFileServices::isAcceptableName(name));
        EXPECT_EQ(files.openFileForWriting(name, true), nullptr);
        EXPECT_EQ(files.openFileForWriting(name, false), nullptr);
        EXPECT_EQ(files.openFileForReading(name), nullptr);
        EXPECT_FALSE(files.deleteFile(name));
        EXPECT_FALSE(files.fileExists(name));
        EXPECT_FALSE(files.renameFile(name, "moved"));
        EXPECT_FALSE(files.renameFile("a/b", name));
        Vec<CAppsString> found, directories;
        EXPECT_FALSE(files.listDirectory(name, found, directories));
        EXPECT_FALSE(files.createDirectory(name));
        EXPECT_FALSE(files.removeDirectory(name));
        EXPECT_FALSE(files.renameDirectory(name, "moved"));
        EXPECT_FALSE(files.renameDirectory("c", name));
        EXPECT_FALSE(files.directoryExists(name));
    }
    EXPECT_EQ(readFile("a/b"), "kept");
    EXPECT_TRUE(QDir(path("c/d")).exists());
    EXPECT_FALSE(QFile::exists(path("moved")));
    EXPECT_FALSE(QFile::exists(path("c:x")));
    EXPECT_FALSE(QFile::exists(temporary.path() + "/b"));
}

TEST_F(HostFileServicesTest, ResolvesEveryNameBelowTheApplicationDirectory) {
    const std::string base = root.toStdString();
    EXPECT_EQ(files.resolve("a\\b").toUtf8(), base + "/a/b");
    EXPECT_EQ(files.resolve("//x//y").toUtf8(), base + "/x/y");
    EXPECT_EQ(files.resolve("/data/x").toUtf8(), base + "/data/x");
    EXPECT_EQ(files.resolve("a\\\\/b///c").toUtf8(), base + "/a/b/c");
    EXPECT_EQ(files.resolve("dir/").toUtf8(), base + "/dir/");

    HostFileServices slashEnded(fromQString(root + "/"));
    EXPECT_EQ(slashEnded.resolve("/x").toUtf8(), base + "/x");
    EXPECT_EQ(slashEnded.resolve("x").toUtf8(), base + "/x");
    HostFileServices noDirectory(CAppsString(""));
    EXPECT_EQ(noDirectory.resolve("\\x").toUtf8(), "/x");

    ASSERT_TRUE(files.createDirectory("a\\b"));
    EXPECT_TRUE(QDir(path("a/b")).exists());
    writeThroughService("//x//y", true, "y");
    EXPECT_EQ(readFile("x/y"), "y");
}

TEST_F(HostFileServicesTest, WritingAppendsUnlessTruncating) {
    writeThroughService("log/new.txt", false, "first");
    EXPECT_EQ(readFile("log/new.txt"), "first");
    writeThroughService("log/new.txt", false, "+second");
    EXPECT_EQ(readFile("log/new.txt"), "first+second");
    writeThroughService("log\\new.txt", true, "third");
    EXPECT_EQ(readFile("log/new.txt"), "third");

    std::unique_ptr<ZARNOK::FileOutputStream> empty(files.openFileForWriting("log/new.txt", true));
    ASSERT_TRUE(empty);
    empty.reset();
    EXPECT_EQ(readFile("log/new.txt"), "");
}

// Appending never reads the old contents back: a file that may be written but not read keeps
// them, the stream starts at the old end, and seeking back overwrites in place.
TEST_F(HostFileServicesTest, AppendingWritesAfterTheOldContentsWithoutRewritingThem) {
    writeFile("kept", "keep me");
    ASSERT_TRUE(QFile::setPermissions(path("kept"), QFile::WriteOwner));
    std::unique_ptr<ZARNOK::FileOutputStream> stream(files.openFileForWriting("kept", false));
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->position(), 7);
    EXPECT_EQ(stream->streamSize(), 7);
    ASSERT_TRUE(stream->write(reinterpret_cast<const TUint8*>("!!"), 2));
    ASSERT_TRUE(stream->seek(0));
    ASSERT_TRUE(stream->write(reinterpret_cast<const TUint8*>("K"), 1));
    stream.reset();
    ASSERT_TRUE(QFile::setPermissions(path("kept"), QFile::ReadOwner | QFile::WriteOwner));
    EXPECT_EQ(readFile("kept"), "Keep me!!");
}

TEST_F(HostFileServicesTest, ReadsDeletesAndTestsFiles) {
    writeFile("data/in.bin", "abc");
    std::unique_ptr<ZARNOK::FileInputStream> in(files.openFileForReading("data\\in.bin"));
    ASSERT_TRUE(in);
    TUint8 bytes[3] = {};
    ASSERT_TRUE(in->read(bytes, 3));
    EXPECT_EQ(bytes[2], 'c');
    EXPECT_EQ(files.openFileForReading("data/missing"), nullptr);

    EXPECT_TRUE(files.fileExists("data/in.bin"));
    EXPECT_TRUE(files.fileExists("data")); // a directory exists as a file name too
    EXPECT_FALSE(files.fileExists("data/missing"));
    EXPECT_TRUE(files.directoryExists("data"));
    EXPECT_FALSE(files.directoryExists("data/in.bin"));

    EXPECT_FALSE(files.deleteFile("data/missing"));
    EXPECT_FALSE(files.deleteFile("data"));
    EXPECT_TRUE(files.deleteFile("/data/in.bin"));
    EXPECT_FALSE(QFile::exists(path("data/in.bin")));
}

TEST_F(HostFileServicesTest, RenamesFilesIntoNewDirectoriesAndRenamesDirectories) {
    writeFile("a.txt", "a");
    EXPECT_TRUE(files.renameFile("a.txt", "deep/er/b.txt"));
    EXPECT_EQ(readFile("deep/er/b.txt"), "a");
    EXPECT_FALSE(files.renameFile("a.txt", "c.txt"));

    EXPECT_TRUE(files.renameDirectory("deep", "shallow"));
    EXPECT_EQ(readFile("shallow/er/b.txt"), "a");
    EXPECT_FALSE(files.renameDirectory("deep", "other"));
}

TEST_F(HostFileServicesTest, ListsFilesAndDirectoriesWithoutDotNamesOrLinks) {
    writeFile("dir/one", "1");
    writeFile("dir/two", "2");
    writeFile("dir/.hidden", "h");
    writeFile("dir/sub/inner", "i");
    ASSERT_TRUE(QDir().mkpath(path("dir/.git")));
    ASSERT_TRUE(QFile::link(path("dir/one"), path("dir/link")));
    ASSERT_TRUE(QFile::link(path("dir/sub"), path("dir/sublink")));

    Vec<CAppsString> found, directories;
    ASSERT_TRUE(files.listDirectory("dir", found, directories));
    EXPECT_EQ(sorted(found), (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(sorted(directories), (std::vector<std::string>{"sub"}));

    Vec<CAppsString> none, noDirectories;
    EXPECT_FALSE(files.listDirectory("missing", none, noDirectories));
    EXPECT_FALSE(files.listDirectory("dir/one", none, noDirectories));
    EXPECT_TRUE(none.isEmpty());
}

TEST_F(HostFileServicesTest, RemovesWholeTreesButNotDotFilesOrLinkedDirectories) {
    writeFile("tree/a", "a");
    writeFile("tree/sub/b", "b");
    writeFile("tree/sub/deeper/c", "c");
    EXPECT_TRUE(files.removeDirectory("tree"));
    EXPECT_FALSE(QDir(path("tree")).exists());

    writeFile("dotted/a", "a");
    writeFile("dotted/.keep", "k");
    EXPECT_FALSE(files.removeDirectory("dotted"));
    EXPECT_FALSE(QFile::exists(path("dotted/a")));
    EXPECT_EQ(readFile("dotted/.keep"), "k");

    writeFile("nested/sub/.keep", "k");
    writeFile("nested/sub/x", "x");
    EXPECT_FALSE(files.removeDirectory("nested")); // the subdirectory stays, so does the parent
    EXPECT_FALSE(QFile::exists(path("nested/sub/x")));

    EXPECT_FALSE(files.removeDirectory("missing"));
    writeFile("plain", "p");
    EXPECT_FALSE(files.removeDirectory("plain"));

    const QString outside = temporary.path() + "/outside";
    ASSERT_TRUE(QDir().mkpath(outside));
    QFile precious(outside + "/precious");
    ASSERT_TRUE(precious.open(QIODevice::WriteOnly));
    precious.close();
    ASSERT_TRUE(QFile::link(outside, path("escape")));
    EXPECT_FALSE(files.removeDirectory("escape"));
    writeFile("holder/x", "x");
    ASSERT_TRUE(QFile::link(outside, path("holder/inner")));
    EXPECT_FALSE(files.removeDirectory("holder")); // the link is neither followed nor removed
    EXPECT_TRUE(QFile::exists(outside + "/precious"));
}

// Names that mean the application directory itself: it holds the image, so it stays.
TEST_F(HostFileServicesTest, NeverRemovesOrRenamesTheApplicationDirectory) {
    writeFile("index.mcb", "image");
    ASSERT_TRUE(files.createDirectory("other"));
    for (const char* name : {"/", "\\", "//", "/.", "./", "."}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(files.removeDirectory(name));
        EXPECT_FALSE(files.renameDirectory(name, "moved"));
        EXPECT_FALSE(files.renameDirectory("other", name));
    }
    EXPECT_EQ(readFile("index.mcb"), "image");
    EXPECT_TRUE(QDir(path("other")).exists());
}

TEST_F(HostFileServicesTest, CreatesDirectoriesWithTheirParents) {
    EXPECT_TRUE(files.createDirectory("x/y/z"));
    EXPECT_TRUE(QDir(path("x/y/z")).exists());
    EXPECT_TRUE(files.createDirectory("x/y/z"));
    EXPECT_EQ(files.fileServiceReserved(), 0);

    writeFile("plain", "p");
    const std::pair<const char*, bool> cases[] = {
        {"a//b\\c/", true}, {"a/./d", true}, {"/e", true}, {"plain", false}, {"plain/sub", false}};
    for (const auto& [name, made] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(files.createDirectory(name), made);
        EXPECT_EQ(files.directoryExists(name), made);
    }
    EXPECT_EQ(readFile("plain"), "p");
}

struct RenameCase {
    const char* from;
    const char* to;
};

// Neither rename replaces anything, whatever the kinds of source and target.
TEST_F(HostFileServicesTest, RenamesNeverReplaceAnExistingTarget) {
    writeFile("file", "f");
    writeFile("other", "o");
    writeFile("full/inner", "i");
    ASSERT_TRUE(QDir().mkpath(path("empty")));
    ASSERT_TRUE(QFile::link(path("missing"), path("dangling")));
    const RenameCase cases[] = {{"file", "other"},  {"file", "empty"},  {"file", "dangling"},
                                {"full", "empty"},  {"full", "other"},  {"file", "file"},
                                {"file", "/file"},  {"file", "./file"}, {"empty", "full/"},
                                {"missing", "new"}, {"dangling", "new"}};
    for (const RenameCase& rename : cases) {
        SCOPED_TRACE(std::string(rename.from) + " -> " + rename.to);
        EXPECT_FALSE(files.renameFile(rename.from, rename.to));
        EXPECT_FALSE(files.renameDirectory(rename.from, rename.to));
    }
    EXPECT_EQ(readFile("file"), "f");
    EXPECT_EQ(readFile("other"), "o");
    EXPECT_EQ(readFile("full/inner"), "i");
    EXPECT_TRUE(QDir(path("empty")).exists());
    EXPECT_FALSE(QFile::exists(path("missing")));
    EXPECT_FALSE(QFile::exists(path("new")));
}

// Either rename moves files and directories alike; only renameFile makes the target's parents.
TEST_F(HostFileServicesTest, RenamesFilesAndDirectoriesAlike) {
    writeFile("f1", "1");
    writeFile("d1/x", "x");
    EXPECT_TRUE(files.renameDirectory("f1", "f2"));
    EXPECT_TRUE(files.renameFile("d1", "d2"));
    EXPECT_EQ(readFile("f2"), "1");
    EXPECT_EQ(readFile("d2/x"), "x");
    EXPECT_FALSE(files.renameDirectory("f2", "new/f3"));
    EXPECT_TRUE(files.renameFile("f2", "new/./f3"));
    EXPECT_EQ(readFile("new/f3"), "1");
    // A target ending in "/" names the parent to make, so it is there and the rename fails.
    EXPECT_FALSE(files.renameFile("new/f3", "made/"));
    EXPECT_TRUE(QDir(path("made")).exists());
    EXPECT_EQ(readFile("new/f3"), "1");
}

// Files whose names are not UTF-8, removed again: Qt's clean-up would not see them.
struct UndecodableFiles {
    explicit UndecodableFiles(const std::string& directory) {
        for (const char* name : {"/\xFF", "/\xC0\x80", "/\xED\xA0\x80"}) {
            paths.push_back(directory + name);
            ::close(::open(paths.back().c_str(), O_CREAT | O_WRONLY, 0600));
        }
    }
    ~UndecodableFiles() {
        for (const std::string& path : paths) ::unlink(path.c_str());
    }
    std::vector<std::string> paths;
};

// Names come in the order the directory gives them, like Qt's unsorted listing did; names
// that are not UTF-8 are left out, since no application could name them back.
TEST_F(HostFileServicesTest, ListsInTheDirectorysOwnOrderWithoutUndecodableNames) {
    const QStringList names = {"b", "A",      "a",          "10",
                               "9", "\u00e9", "\U0001F600", QString(QChar(0xFEFF)) + "bom"};
    for (const QString& name : names) writeFile("dir/" + name, "x");
    for (const QString& name : names) ASSERT_TRUE(QDir().mkpath(path("dir/d" + name)));
    const UndecodableFiles undecodable(QFile::encodeName(path("dir")).toStdString());

    Vec<CAppsString> found, directories;
    ASSERT_TRUE(files.listDirectory("dir", found, directories));
    const QDir reference(path("dir"));
    Vec<CAppsString> expectedFiles, expectedDirectories;
    for (const QString& name : reference.entryList(QDir::Files | QDir::NoSymLinks, QDir::Unsorted))
        expectedFiles.append(fromQString(name));
    for (const QString& name :
         reference.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Unsorted))
        expectedDirectories.append(fromQString(name));
    EXPECT_TRUE(found == expectedFiles);
    EXPECT_TRUE(directories == expectedDirectories);
    EXPECT_EQ(found.size(), names.size());
    EXPECT_EQ(directories.size(), names.size());
}

// A link on the way down is not followed either: the removal would reach outside.
TEST_F(HostFileServicesTest, NeverRemovesThroughALink) {
    const QString outside = temporary.path() + "/outside";
    ASSERT_TRUE(QDir().mkpath(outside + "/sub"));
    QFile precious(outside + "/sub/precious");
    ASSERT_TRUE(precious.open(QIODevice::WriteOnly));
    precious.close();
    ASSERT_TRUE(QFile::link(outside, path("escape")));
    for (const char* name : {"escape/", "escape//", "escape/.", "escape/sub", "./escape\\sub/"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(files.removeDirectory(name));
    }
    EXPECT_TRUE(QFile::exists(outside + "/sub/precious"));
}

struct TemporaryMount {
    explicit TemporaryMount(const std::string& where) : where(where) {
        mounted = ::mount("tmpfs", where.c_str(), "tmpfs", 0, "size=1m") == 0;
    }
    ~TemporaryMount() {
        if (mounted) ::umount2(where.c_str(), MNT_DETACH);
    }
    std::string where;
    bool mounted;
};

// Across file systems a file is copied, with its permissions, and the original removed.
TEST_F(HostFileServicesTest, RenamesAFileAcrossFileSystems) {
    ASSERT_TRUE(QDir().mkpath(path("mounted")));
    const TemporaryMount mount(QFile::encodeName(path("mounted")).toStdString());
    if (!mount.mounted) GTEST_SKIP() << "no tmpfs here: " << std::strerror(errno);
    writeFile("file", "contents");
    ASSERT_TRUE(QFile::setPermissions(path("file"), QFile::ReadOwner | QFile::ExeOwner));
    EXPECT_TRUE(files.renameFile("file", "mounted/file"));
    EXPECT_FALSE(QFile::exists(path("file")));
    EXPECT_EQ(readFile("mounted/file"), "contents");
    struct stat status;
    ASSERT_EQ(::stat(QFile::encodeName(path("mounted/file")).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0500u);
    writeFile("directory/x", "x");
    EXPECT_FALSE(files.renameDirectory("directory", "mounted/directory"));
    EXPECT_EQ(readFile("directory/x"), "x");
}

} // namespace
