#include "HostFileServices.h"

#include "AppsFileIO.h"
#include "FileUtility.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

class HostFileServicesTest : public ::testing::Test {
protected:
    QTemporaryDir temporary;
    QString root = temporary.path() + "/app";
    HostFileServices files{FileUtility::fromQString(root)};

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

    HostFileServices slashEnded(FileUtility::fromQString(root + "/"));
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
}

} // namespace
