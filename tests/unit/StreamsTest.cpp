#include "AppsFileIO.h"
#include "FileUtility.h"
#include "QtText.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace ZARNOK;

namespace {

CAppsString str(const QString& text) {
    return fromQString(text);
}

class StreamsTest : public ::testing::Test {
protected:
    QString path(const QString& name) const { return dir.filePath(name); }

    // Writes bytes through a FileOutputStream, so every file test also round-trips the writer.
    void writeFile(const QString& name, const std::vector<TUint8>& bytes) {
        FileOutputStream out;
        ASSERT_TRUE(out.open(str(path(name))));
        ASSERT_TRUE(out.write(bytes.data(), static_cast<TInt32>(bytes.size())));
    }

    QTemporaryDir dir;
};

TEST_F(StreamsTest, OutputOpenRefusesRelativePathWithoutTouchingTheDisk) {
    QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    FileOutputStream out;
    EXPECT_FALSE(out.open(str("data/x.txt")));
    EXPECT_FALSE(out.isOpen());
    EXPECT_FALSE(QFileInfo::exists(path("data")));
    QDir::setCurrent(previous);
}

TEST_F(StreamsTest, OutputOpenCreatesMissingDirectoryChainAndTruncates) {
    writeFile("a/b/c/x.bin", {1, 2, 3});
    EXPECT_EQ(QFileInfo(path("a/b/c/x.bin")).size(), 3);

    FileOutputStream again;
    ASSERT_TRUE(again.open(str(path("a/b/c/x.bin"))));
    again.close();
    EXPECT_EQ(QFileInfo(path("a/b/c/x.bin")).size(), 0);

    FileOutputStream backslashes;
    ASSERT_TRUE(backslashes.open(str(QString(path("d\\y.bin")))));
    EXPECT_TRUE(QFileInfo::exists(path("d/y.bin")));

    writeFile(QString::fromUtf8("\xC3\xBC.bin"), {1});
    EXPECT_TRUE(QFileInfo::exists(path(QString::fromUtf8("\xC3\xBC.bin"))));
}

TEST_F(StreamsTest, OpenRefusesEmptyMissingDirectoryAndNulPaths) {
    FileInputStream in;
    EXPECT_FALSE(in.open(CAppsString()));
    EXPECT_FALSE(in.open(str(path("missing"))));
    EXPECT_FALSE(in.open(str(dir.path())));

    writeFile("x", {7});
    CAppsString withNul = str(path("x"));
    withNul.append(TUint16(0));
    withNul.append("y");
    EXPECT_FALSE(in.open(withNul));
    FileOutputStream out;
    EXPECT_FALSE(out.open(withNul));
    EXPECT_EQ(QFileInfo(path("x")).size(), 1);
}

TEST_F(StreamsTest, FileInputReadsSeeksAndReportsTheEnd) {
    writeFile("in.bin", {10, 20, 30, 40});
    FileInputStream in;
    ASSERT_TRUE(in.open(str(path("in.bin"))));
    EXPECT_EQ(in.streamSize(), 4);
    EXPECT_EQ(in.readByte(), 10);

    TUint8 buffer[4] = {};
    EXPECT_TRUE(in.read(buffer, 0));
    EXPECT_FALSE(in.read(buffer, -1));
    EXPECT_FALSE(in.read(nullptr, 1));
    EXPECT_TRUE(in.read(buffer, 2));
    EXPECT_EQ(buffer[1], 30);
    EXPECT_FALSE(in.read(buffer, 2));

    EXPECT_TRUE(in.seek(4));
    EXPECT_TRUE(in.atEnd());
    EXPECT_EQ(in.readByte(), -1);
    EXPECT_FALSE(in.seek(5));
    EXPECT_FALSE(in.seek(-1));
    EXPECT_EQ(in.position(), 4);
    EXPECT_TRUE(in.seek(3));
    EXPECT_EQ(in.readByte(), 40);
}

TEST_F(StreamsTest, FileOutputSeeksWithinWrittenBytesAndOverwrites) {
    FileOutputStream out;
    ASSERT_TRUE(out.open(str(path("out.bin"))));
    const TUint8 bytes[] = {1, 2, 3};
    ASSERT_TRUE(out.write(bytes, 3));
    EXPECT_FALSE(out.write(bytes, -1));
    EXPECT_EQ(out.streamSize(), 3);
    EXPECT_FALSE(out.seek(4));
    EXPECT_FALSE(out.seek(-1));
    EXPECT_EQ(out.position(), 3);
    EXPECT_TRUE(out.seek(1));
    EXPECT_TRUE(out.writeByte(9));
    out.close();

    QFile file(path("out.bin"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("\x01\x09\x03", 3));
}

TEST_F(StreamsTest, ClosedFileStreamsFailEveryOperation) {
    writeFile("c.bin", {1});
    FileInputStream in;
    ASSERT_TRUE(in.open(str(path("c.bin"))));
    in.close();
    TUint8 byte = 0;
    EXPECT_EQ(in.readByte(), -1);
    EXPECT_FALSE(in.read(&byte, 0));
    EXPECT_EQ(in.streamSize(), 0);
    EXPECT_FALSE(in.seek(0));
    EXPECT_TRUE(in.atEnd());

    FileOutputStream out;
    EXPECT_FALSE(out.writeByte(1));
    EXPECT_FALSE(out.write(&byte, 1));
    EXPECT_FALSE(out.seek(0));
}

TEST_F(StreamsTest, SizeBeyond31BitsIsAFailureNotATruncatedValue) {
    QFile sparse(path("huge.bin"));
    ASSERT_TRUE(sparse.open(QIODevice::WriteOnly));
    if (!sparse.resize((qint64(1) << 32) + 5)) GTEST_SKIP() << "no sparse files here";
    sparse.close();
    FileInputStream in;
    ASSERT_TRUE(in.open(str(path("huge.bin"))));
    EXPECT_EQ(in.streamSize(), 0);
    EXPECT_FALSE(in.seek(1));
    CAppsFileReader reader(str(path("huge.bin")));
    Vec<TUint8> bytes;
    EXPECT_FALSE(reader.appendRestToVector(bytes));
}

TEST(MemoryStreams, InputCopiesTheBytesAndStopsAtTheEnd) {
    TUint8 source[] = {5, 6, 7};
    MemoryInputStream in;
    in.setBuffer(source, 3);
    source[0] = 0;
    EXPECT_TRUE(in.isOpen());
    EXPECT_EQ(in.readByte(), 5);

    TUint8 buffer[3] = {};
    EXPECT_TRUE(in.read(buffer, 0));
    EXPECT_FALSE(in.read(buffer, -1));
    EXPECT_EQ(in.position(), 1);
    EXPECT_FALSE(in.read(buffer, 3));
    EXPECT_TRUE(in.atEnd());
    EXPECT_EQ(in.readByte(), 0);

    EXPECT_TRUE(in.seek(3));
    EXPECT_FALSE(in.seek(4));
    EXPECT_FALSE(in.seek(-1));
    EXPECT_EQ(in.position(), 3);
    EXPECT_TRUE(in.seek(1));
    EXPECT_TRUE(in.read(buffer, 2));
    EXPECT_EQ(buffer[1], 7);
}

TEST(MemoryStreams, OutputGrowsOverwritesAndNeverWritesPastTheVector) {
    Vec<TUint8> bytes;
    MemoryOutputStream out(&bytes, false);
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(out.writeByte(TUint8(i)));
    EXPECT_EQ(out.streamSize(), 100);
    EXPECT_TRUE(out.seek(98));
    const TUint8 tail[] = {200, 201, 202};
    EXPECT_TRUE(out.write(tail, 3));
    EXPECT_EQ(bytes.size(), 101);
    EXPECT_EQ(bytes[97], 97);
    EXPECT_EQ(bytes[100], 202);

    EXPECT_FALSE(out.seek(102));
    EXPECT_FALSE(out.seek(-1));
    EXPECT_EQ(out.position(), 101);
    bytes.resize(10); // the owner took the bytes away
    EXPECT_FALSE(out.writeByte(1));
    EXPECT_FALSE(out.write(tail, 3));
    EXPECT_EQ(bytes.size(), 10);

    out.close();
    EXPECT_FALSE(out.writeByte(1));
    EXPECT_EQ(out.bytes(), &bytes); // not owned: still there
}

TEST(MemoryStreams, OwnedBufferIsDeletedExactlyOnce) {
    {
        MemoryOutputStream closedFirst(new Vec<TUint8>, true);
        closedFirst.writeByte(1);
        closedFirst.close();
        EXPECT_EQ(closedFirst.bytes(), nullptr);
        EXPECT_FALSE(closedFirst.writeByte(2));
        closedFirst.close();
    }
    MemoryOutputStream deletedWithStream(new Vec<TUint8>, true); // a leak shows under LSan
    EXPECT_TRUE(deletedWithStream.writeByte(1));
}

TEST_F(StreamsTest, ReaderAppendsAndShrinksBackOnFailure) {
    writeFile("r.bin", {'a', 'b', 0xE9, 'd'});
    CAppsFileReader reader(str(path("r.bin")));
    ASSERT_TRUE(reader.isOpen());

    Vec<TUint8> bytes{42};
    EXPECT_TRUE(reader.appendToVector(bytes, 0));
    EXPECT_TRUE(reader.appendToVector(bytes, 1));
    EXPECT_FALSE(reader.appendToVector(bytes, 4));
    EXPECT_FALSE(reader.appendToVector(bytes, -1));
    EXPECT_EQ(bytes, (Vec<TUint8>{42, 'a'}));
    EXPECT_EQ(reader.position(), 1);

    CAppsString text;
    EXPECT_TRUE(reader.readToString(2, text));
    EXPECT_EQ(text, CAppsString("b\xE9"));
    EXPECT_TRUE(reader.appendRestToVector(bytes));
    EXPECT_EQ(bytes, (Vec<TUint8>{42, 'a', 'd'}));
    EXPECT_TRUE(reader.appendRestToVector(bytes));
    EXPECT_FALSE(reader.readToString(-1, text));

    CAppsFileReader none(static_cast<FileInputStream*>(nullptr));
    EXPECT_FALSE(none.isOpen());
    EXPECT_FALSE(none.appendRestToVector(bytes));
    EXPECT_FALSE(CAppsFileReader(str(path("missing"))).readToString(0, text));
}

TEST_F(StreamsTest, WriterWritesWholeBuffers) {
    {
        CAppsFileWriter writer(str(path("w/w.bin")));
        const TUint8 bytes[] = {1, 2};
        EXPECT_TRUE(writer.writeByteBufferToFile(bytes, 2));
        EXPECT_TRUE(writer.writeByteBufferToFile(nullptr, 0));
        EXPECT_FALSE(writer.writeByteBufferToFile(nullptr, 1));
    }
    EXPECT_EQ(QFileInfo(path("w/w.bin")).size(), 2);
    EXPECT_FALSE(CAppsFileWriter(str("w.bin")).writeByteBufferToFile(nullptr, 0));
}

TEST(StreamsDeathTest, InternalChecksNameTheirExpression) {
    CAppsFileWriter writer(str("relative"));
    EXPECT_DEATH(writer.writeByteBufferToFile(nullptr, -1), "aNumberOfBytes >= 0");
    MemoryInputStream in;
    EXPECT_DEATH(in.setBuffer(nullptr, 0), "aBuffer");
}

TEST(FileUtility, JoinsAndConvertsPaths) {
    EXPECT_EQ(FileUtility::join("", "n"), CAppsString("n"));
    EXPECT_EQ(FileUtility::join("/d", ""), CAppsString("/d"));
    EXPECT_EQ(FileUtility::join("/d", "n"), CAppsString("/d/n"));
    EXPECT_EQ(FileUtility::join("/d/", "\\n"), CAppsString("/d/n"));
    EXPECT_EQ(FileUtility::join("/d\\", "//n"), CAppsString("/d\\/n"));
    EXPECT_EQ(FileUtility::ensureTrailingSeparator("/d\\"), CAppsString("/d\\"));
    EXPECT_EQ(FileUtility::convertSeparators("a\\b/c"), CAppsString("a/b/c"));
    EXPECT_TRUE(FileUtility::isRelative("a\\b"));
    EXPECT_FALSE(FileUtility::isRelative("\\a"));

    CAppsString umlaut;
    umlaut.append(TUint16(0xFC));
    EXPECT_EQ(FileUtility::nativeFileName(umlaut), "\xC3\xBC");
    EXPECT_EQ(FileUtility::nativeFileName("/a\\b c~"), "/a/b c~");
}

TEST_F(StreamsTest, FileUtilityTouchesOnlyAbsolutePaths) {
    QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    EXPECT_FALSE(FileUtility::makePath("rel/dir"));
    EXPECT_FALSE(QFileInfo::exists(path("rel")));
    QDir().mkdir("here");
    EXPECT_FALSE(FileUtility::directoryExists("here"));
    QDir::setCurrent(previous);

    EXPECT_TRUE(FileUtility::makePath(str(path("p/q"))));
    EXPECT_TRUE(FileUtility::directoryExists(str(path("p/q"))));
    EXPECT_FALSE(FileUtility::directoryExists(CAppsString()));

    writeFile("p/f", {1});
    EXPECT_TRUE(FileUtility::removeFile(str(path("p/f"))));
    EXPECT_FALSE(QFileInfo::exists(path("p/f")));
    EXPECT_FALSE(FileUtility::removeFile(str(path("p/f"))));
    EXPECT_FALSE(FileUtility::removeFile(str(path("p/q"))));
    EXPECT_FALSE(FileUtility::removeFile(CAppsString()));
}

// Qt's QFileInfo is the reference: the paths were handled by it before.
TEST(FileUtility, TellsRelativePathsAndDirectoryPartsAsQtDoes) {
    const char* paths[] = {"",    "/",    "a",     "a/b",  "/a",   "/a/b/", "//a", "a\\b",
                           "\\a", ":x/y", "./a/.", "../b", "a//b", "/a/..", "~/a", " /a"};
    for (const char* path : paths) {
        SCOPED_TRACE(path);
        const QFileInfo reference(QDir::fromNativeSeparators(QString(path).replace('\\', '/')));
        EXPECT_EQ(FileUtility::directoryOf(path), fromQString(reference.path()));
        if (path[0] != ':') {
            EXPECT_EQ(FileUtility::isRelative(path), reference.isRelative());
        }
    }
    // Qt took ":" for its resources; such a path is relative here, and so never written.
    EXPECT_TRUE(FileUtility::isRelative(":x/y"));
}

} // namespace

namespace {

TEST_F(StreamsTest, AppendingKeepsTheContentsCreatesMissingFilesAndRefusesRelativePaths) {
    writeFile("log.txt", {'o', 'l', 'd'});
    FileOutputStream out;
    ASSERT_TRUE(out.openForAppend(str(path("log.txt"))));
    EXPECT_EQ(out.position(), 3);
    const TUint8 more[] = {'+', '1'};
    ASSERT_TRUE(out.write(more, 2));
    out.close();
    QFile file(path("log.txt"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "old+1");

    ASSERT_TRUE(out.openForAppend(str(path("new/deeper/fresh.txt"))));
    EXPECT_EQ(out.streamSize(), 0);
    EXPECT_TRUE(QFileInfo::exists(path("new/deeper/fresh.txt")));

    QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    EXPECT_FALSE(out.openForAppend(str("relative.txt")));
    EXPECT_FALSE(QFileInfo::exists(path("relative.txt")));
    QDir::setCurrent(previous);
    EXPECT_FALSE(out.openForAppend(str(dir.path()))); // a directory
}

// /dev/full refuses every byte: each write fails at once, however small, and nothing the
// failed write left in stdio's buffer makes a later write fail in its place.
TEST(FileOutputStreams, AWriteThatDoesNotReachTheSystemFails) {
    if (!QFileInfo::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    for (bool append : {false, true}) {
        FileOutputStream out;
        ASSERT_TRUE(append ? out.openForAppend(str("/dev/full")) : out.open(str("/dev/full")));
        const TUint8 byte = 'x';
        EXPECT_FALSE(out.write(&byte, 1));
        EXPECT_FALSE(out.write(&byte, 1));
        EXPECT_TRUE(out.write(&byte, 0));
    }
}

} // namespace
