// The path and file helpers against Qt, which did this work before: where the two differ, the
// difference is deliberate and tested on its own.

#include "NativeFiles.h"
#include "FileUtility.h"
#include "QtText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

namespace {

std::string bytes(const QString& text) {
    return QFile::encodeName(text).toStdString();
}

TEST(FileUtilityPaths, CleansPathsAsQtDoes) {
    const std::pair<const char*, const char*> cases[] = {
        {"", ""},
        {"/", "/"},
        {"//", "/"},
        {".", "."},
        {"./", "."},
        {"..", ".."},
        {"/..", "/.."},
        {"/../a", "/../a"},
        {"a/..", "."},
        {"a/../..", ".."},
        {"a/../../b", "../b"},
        {"/a/b/../../..", "/.."},
        {"a/./b", "a/b"},
        {"a//b/", "a/b"},
        {".//a", "a"},
        {".../..", "."},
        {"a/.b/../c", "a/c"},
        {"//a//b//", "/a/b"},
        {"/./.", "/"},
        {"a\\b/..", "."},
        {"/a/b/../c/./d/", "/a/c/d"},
        {"x/../../y/../z", "../z"},
    };
    for (const auto& [path, clean] : cases) {
        SCOPED_TRACE(path);
        EXPECT_EQ(FileUtility::cleanPath(path).toUtf8(), clean);
        EXPECT_EQ(clean, QDir::cleanPath(path).toStdString());
    }
}

TEST(FileUtilityPaths, MakesPathsAbsoluteAsQtDoes) {
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent("/tmp"));
    const std::pair<const char*, const char*> cases[] = {
        {"", "/tmp"},        {".", "/tmp"},   {"/", "/"},        {"//", "/"},
        {"/x//", "/x/"},     {"/x/", "/x"},   {"/x///", "/x"},   {"a//", "/tmp/a"},
        {"./a", "/tmp/a"},   {"../a", "/a"},  {"/a/../b", "/b"}, {"/..//", "/.."},
        {"...", "/tmp/..."}, {"/x/./", "/x"}, {"//x", "/x"},
    };
    for (const auto& [path, absolute] : cases) {
        SCOPED_TRACE(path);
        EXPECT_EQ(FileUtility::absolutePath(path).toUtf8(), absolute);
        EXPECT_EQ(absolute, QDir(path).absolutePath().toStdString());
    }
    EXPECT_EQ(FileUtility::currentDirectory().toUtf8(), "/tmp");
    QDir::setCurrent(previous);
}

struct Decoding {
    std::string name;
    bool valid;
    std::vector<TUint16> units;
};

TEST(FileUtilityNames, DecodesUtf8NamesAndFlagsEveryOtherAsQtDoes) {
    const Decoding cases[] = {
        {"plain", true, {'p', 'l', 'a', 'i', 'n'}},
        {"\xC3\xBC", true, {0xFC}},
        {"\xF0\x9F\x98\x80", true, {0xD83D, 0xDE00}},
        {"\xEF\xBF\xBF", true, {0xFFFF}},
        {"\xEF\xBF\xBE", true, {0xFFFE}},
        {"\xFF", false, {0xFFFD}},
        {"a\xE2\x82"
         "b",
         false,
         {'a', 0xFFFD, 0xFFFD, 'b'}},
        {"\xE2\x82", false, {0xFFFD, 0xFFFD}},
        {"\xC0\x80", false, {0xFFFD, 0xFFFD}},
        {"\xED\xA0\x80", false, {0xFFFD, 0xFFFD, 0xFFFD}},
        {"\xF4\x90\x80\x80", false, {0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}},
        {"\x80\x80", false, {0xFFFD, 0xFFFD}},
    };
    for (const Decoding& test : cases) {
        SCOPED_TRACE(test.name);
        CAppsString decoded;
        EXPECT_EQ(FileUtility::decodeName(test.name, decoded), test.valid);
        EXPECT_EQ(decoded, CAppsString(test.units.data(), static_cast<int>(test.units.size())));
        EXPECT_EQ(decoded, fromQString(QFile::decodeName(test.name.c_str())));
        if (test.valid) {
            EXPECT_EQ(FileUtility::encodeName(decoded), test.name);
        }
    }
}

// QString::fromUtf8 drops a byte order mark at the start; a file name keeps it, as Qt's own
// directory listing did.
TEST(FileUtilityNames, KeepsALeadingByteOrderMark) {
    CAppsString decoded;
    EXPECT_TRUE(FileUtility::decodeName("\xEF\xBB\xBFx", decoded));
    const TUint16 units[] = {0xFEFF, 'x'};
    EXPECT_EQ(decoded, CAppsString(units, 2));
}

TEST(FileUtilityNames, EncodesAsQtDoesWithAQuestionMarkForALoneSurrogate) {
    const std::vector<TUint16> cases[] = {
        {'a', 0xE9, 0x800}, {0xD83D, 0xDE00}, {0xD800, 'a', 0xDC00},
        {0xDBFF},           {0xDC00, 0xD800}, {0xFFFD, 0xFFFF, 0x7F, 0x80},
    };
    for (const std::vector<TUint16>& units : cases) {
        const CAppsString text(units.data(), static_cast<int>(units.size()));
        EXPECT_EQ(FileUtility::encodeName(text), toQString(text).toUtf8().toStdString());
    }
    const TUint16 withNul[] = {'a', 0, 'b'};
    EXPECT_EQ(FileUtility::encodeName(CAppsString(withNul, 3)), "");
    EXPECT_EQ(FileUtility::nativeFileName("a\\b"), "a/b");
    EXPECT_EQ(FileUtility::encodeName("a\\b"), "a\\b");
}

class NativeFilesTest : public ::testing::Test {
protected:
    QTemporaryDir temporary;

    std::string path(const QString& relative) const { return bytes(temporary.filePath(relative)); }
    void writeFile(const QString& relative, const QByteArray& contents) const {
        QFile file(temporary.filePath(relative));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(contents), contents.size());
    }
    QByteArray readFile(const QString& relative) const {
        QFile file(temporary.filePath(relative));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
};

// Each path is made twice, by QDir::mkpath and here, in twin directories.
TEST_F(NativeFilesTest, MakesPathsWithTheirParentsAsQtDoes) {
    const char* cases[] = {"x/y/z",    "x/y/z",    "deep//er///",  "a/./b",   "file",
                           "file/sub", "dangling", "linked/inner", "x/y/../w"};
    for (const char* side : {"qt", "here"}) {
        QDir().mkpath(temporary.filePath(side));
        QFile file(temporary.filePath(QString(side) + "/file"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(QFile::link("nowhere", temporary.filePath(QString(side) + "/dangling")));
        ASSERT_TRUE(QFile::link("x", temporary.filePath(QString(side) + "/linked")));
    }
    for (const char* name : cases) {
        SCOPED_TRACE(name);
        const QString qt = temporary.filePath(QString("qt/") + name);
        const bool made = NativeFiles::makePath(path(QString("here/") + name));
        EXPECT_EQ(made, QDir().mkpath(qt));
        EXPECT_EQ(QFileInfo(temporary.filePath(QString("here/") + name)).isDir(),
                  QFileInfo(qt).isDir());
    }
    EXPECT_FALSE(NativeFiles::makePath(""));
}

TEST_F(NativeFilesTest, ListsFilesAndDirectoriesInQtsUnsortedOrder) {
    for (int i = 0; i < 40; ++i) {
        const QString name = QString::number(i * 7919 % 101) + (i % 3 ? "b" : "B");
        if (i % 2) {
            writeFile(name, "f");
        } else {
            QDir().mkpath(temporary.filePath(name));
        }
    }
    ASSERT_TRUE(QFile::link("1b", temporary.filePath("link")));
    ASSERT_EQ(::mkfifo(path("pipe").c_str(), 0600), 0);
    const std::pair<NativeFiles::EntryKind, QDir::Filters> kinds[] = {
        {NativeFiles::EntryKind::Files, QDir::Files},
        {NativeFiles::EntryKind::Directories, QDir::Dirs | QDir::NoDotAndDotDot}};
    for (const auto& [kind, filter] : kinds) {
        std::vector<std::string> expected;
        for (const QString& name :
             QDir(temporary.path()).entryList(filter | QDir::NoSymLinks, QDir::Unsorted))
            expected.push_back(name.toStdString());
        EXPECT_EQ(NativeFiles::entries(bytes(temporary.path()), kind), expected);
        EXPECT_EQ(expected.size(), 20u);
    }
    EXPECT_TRUE(NativeFiles::entries(path("missing"), NativeFiles::EntryKind::Files).empty());
}

TEST_F(NativeFilesTest, NeverRenamesOntoAnExistingTarget) {
    writeFile("source", "s");
    writeFile("file", "f");
    QDir().mkpath(temporary.filePath("directory"));
    QDir().mkpath(temporary.filePath("empty"));
    ASSERT_TRUE(QFile::link("nowhere", temporary.filePath("dangling")));
    for (const char* target : {"file", "directory", "empty", "dangling"}) {
        SCOPED_TRACE(target);
        EXPECT_FALSE(NativeFiles::renameWithoutReplacing(path("source"), path(target)));
        EXPECT_FALSE(NativeFiles::moveByCopying(path("source"), path(target)));
        EXPECT_EQ(readFile("source"), "s");
    }
    EXPECT_EQ(readFile("file"), "f");
    EXPECT_FALSE(QFileInfo::exists(temporary.filePath("nowhere")));
    EXPECT_TRUE(NativeFiles::renameWithoutReplacing(path("directory"), path("moved")));
    EXPECT_TRUE(QFileInfo(temporary.filePath("moved")).isDir());
}

TEST_F(NativeFilesTest, MovesByCopyingWithThePermissions) {
    writeFile("source", QByteArray(200000, 'x'));
    ASSERT_EQ(::chmod(path("source").c_str(), 0751), 0);
    ASSERT_TRUE(NativeFiles::moveByCopying(path("source"), path("target")));
    EXPECT_EQ(readFile("target"), QByteArray(200000, 'x'));
    EXPECT_FALSE(QFileInfo::exists(temporary.filePath("source")));
    struct stat status;
    ASSERT_EQ(::stat(path("target").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0751u);

    QDir().mkpath(temporary.filePath("directory"));
    EXPECT_FALSE(NativeFiles::moveByCopying(path("directory"), path("copied")));
    EXPECT_FALSE(QFileInfo::exists(temporary.filePath("copied")));
}

TEST_F(NativeFilesTest, RenamesChangingCaseThroughATemporaryName) {
    writeFile("name", "n");
    EXPECT_TRUE(NativeFiles::renameChangingCase(path("name"), path("NAME")));
    EXPECT_EQ(readFile("NAME"), "n");
    writeFile("other", "o");
    EXPECT_FALSE(NativeFiles::renameChangingCase(path("NAME"), path("other")));
    EXPECT_EQ(readFile("NAME"), "n");
    EXPECT_EQ(QDir(temporary.path()).entryList(QDir::Files).size(), 2);
}

TEST_F(NativeFilesTest, TellsLinksEvenWithTrailingSlashes) {
    QDir().mkpath(temporary.filePath("directory"));
    ASSERT_TRUE(QFile::link("directory", temporary.filePath("link")));
    const std::pair<const char*, bool> cases[] = {
        {"link", true}, {"link/", true}, {"link//", true}, {"directory", false}, {"link/.", false}};
    for (const auto& [name, isLink] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(NativeFiles::isSymbolicLink(path(name)), isLink);
        EXPECT_TRUE(NativeFiles::isDirectory(path(name)));
    }
    EXPECT_TRUE(NativeFiles::isSameFile(path("link"), path("directory")));
    EXPECT_FALSE(NativeFiles::isSymbolicLink(""));
}

} // namespace
