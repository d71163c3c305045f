// Runs one program test: zentu-run on the test's application directory, then compares the
// exit status, the standard-error lines and the files the program must leave behind with
// what the test expects. README.md describes the files of a test.

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QProcess>

#include <cstdio>

namespace {

struct Expectation {
    int exitStatus = 0;
    QStringList arguments;
    QStringList environment; // NAME=VALUE
    QList<QByteArray> lines;
};

void fail(const QString& message) {
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

QByteArray readFile(const QString& path, bool& ok) {
    QFile file(path);
    ok = file.open(QIODevice::ReadOnly);
    return ok ? file.readAll() : QByteArray();
}

// Directives up to a line "---", then the exact lines of standard error.
bool parseExpectation(const QByteArray& text, Expectation& out, const QByteArray& appDir,
                      const QByteArray& events) {
    QList<QByteArray> lines = text.split('\n');
    if (text.endsWith('\n')) lines.removeLast();
    qsizetype at = 0;
    bool haveStatus = false;
    for (; at < lines.size() && lines[at] != "---"; ++at) {
        const QByteArray line = lines[at].trimmed();
        if (line.startsWith("exit ")) {
            out.exitStatus = line.mid(5).toInt(&haveStatus);
        } else if (line.startsWith("args ")) {
            for (const QByteArray& word : line.mid(5).simplified().split(' '))
                out.arguments << QString::fromUtf8(word);
        } else if (line.startsWith("env ")) {
            out.environment << QString::fromUtf8(line.mid(4).trimmed());
        } else if (!line.isEmpty() && !line.startsWith('#')) {
            fail("unknown directive: " + QString::fromUtf8(line));
            return false;
        }
    }
    if (!haveStatus || at == lines.size()) {
        fail("the expectation needs an 'exit N' line and a '---' line");
        return false;
    }
    for (++at; at < lines.size(); ++at)
        out.lines << QByteArray(lines[at]).replace("@APPDIR@", appDir).replace("@EVENTS@", events);
    return true;
}

// Everything but the image goes, so that no run sees what an earlier one left.
bool prepareDirectory(const QString& appDir, const QString& fixtures) {
    QDir directory(appDir);
    if (!directory.exists() && !QDir().mkpath(appDir)) return false;
    const auto entries = directory.entryInfoList(QDir::AllEntries | QDir::Hidden |
                                                 QDir::NoDotAndDotDot | QDir::System);
    for (const QFileInfo& entry : entries) {
        if (entry.fileName() == "index.mcb") continue;
        const bool removed = entry.isDir() && !entry.isSymLink()
                                 ? QDir(entry.filePath()).removeRecursively()
                                 : QFile::remove(entry.filePath());
        if (!removed) return false;
    }
    if (!QDir(fixtures).exists()) return true;
    QDirIterator files(fixtures, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString source = files.next();
        const QString target = appDir + "/" + QDir(fixtures).relativeFilePath(source);
        if (!QDir().mkpath(QFileInfo(target).path()) || !QFile::copy(source, target)) return false;
    }
    return true;
}

void showLines(const char* title, const QList<QByteArray>& lines) {
    std::fprintf(stderr, "%s\n", title);
    for (const QByteArray& line : lines) std::fprintf(stderr, "  |%s\n", line.constData());
}

bool compareLines(const QList<QByteArray>& expected, const QByteArray& output) {
    QList<QByteArray> actual = output.split('\n');
    if (output.endsWith('\n') || output.isEmpty()) actual.removeLast();
    if (actual == expected) return true;
    fail("standard error differs");
    showLines("expected:", expected);
    showLines("actual:", actual);
    return false;
}

// Two PNG files are the same when they hold the same pixels, whatever the encoder's choices.
bool samePixels(const QString& expectedPath, const QString& actualPath) {
    const QImage expected = QImage(expectedPath).convertToFormat(QImage::Format_ARGB32);
    const QImage actual = QImage(actualPath).convertToFormat(QImage::Format_ARGB32);
    if (expected.isNull() || actual.isNull() || expected.size() != actual.size()) {
        fail(QString("image %1: %2 x %3, expected %4 x %5")
                 .arg(actualPath)
                 .arg(actual.width())
                 .arg(actual.height())
                 .arg(expected.width())
                 .arg(expected.height()));
        return false;
    }
    for (int y = 0; y < expected.height(); ++y) {
        for (int x = 0; x < expected.width(); ++x) {
            if (expected.pixel(x, y) == actual.pixel(x, y)) continue;
            fail(QString("image %1: pixel (%2, %3) is %4, expected %5")
                     .arg(actualPath)
                     .arg(x)
                     .arg(y)
                     .arg(actual.pixel(x, y), 8, 16, QChar('0'))
                     .arg(expected.pixel(x, y), 8, 16, QChar('0')));
            return false;
        }
    }
    return true;
}

// Every file below NAME.after must exist in the application directory with the same bytes;
// PNG images with the same pixels.
bool compareFiles(const QString& expectedRoot, const QString& appDir) {
    bool same = true;
    QDirIterator files(expectedRoot, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString expectedPath = files.next();
        const QString relative = QDir(expectedRoot).relativeFilePath(expectedPath);
        bool expectedOk = false, actualOk = false;
        const QByteArray expected = readFile(expectedPath, expectedOk);
        const QByteArray actual = readFile(appDir + "/" + relative, actualOk);
        if (!actualOk) {
            fail("missing file " + relative);
            same = false;
        } else if (relative.endsWith(".png")) {
            if (!samePixels(expectedPath, appDir + "/" + relative)) same = false;
        } else if (expected != actual) {
            fail("file " + relative + " differs");
            showLines("expected:", expected.split('\n'));
            showLines("actual:", actual.split('\n'));
            same = false;
        }
    }
    return same;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc != 5) {
        fail("usage: ProgramTest ZENTU_RUN SOURCE_DIR NAME APPDIR");
        return 2;
    }
    const QString runner = QString::fromLocal8Bit(argv[1]);
    const QString base = QString::fromLocal8Bit(argv[2]) + "/" + QString::fromLocal8Bit(argv[3]);
    const QString appDir = QString::fromLocal8Bit(argv[4]);
    const QString events = base + ".events";

    bool ok = false;
    const QByteArray expectationText = readFile(base + ".expected", ok);
    Expectation expectation;
    if (!ok || !parseExpectation(expectationText, expectation, appDir.toUtf8(), events.toUtf8()))
        return 1;
    if (!prepareDirectory(appDir, base + ".before")) {
        fail("cannot prepare " + appDir);
        return 1;
    }

    QStringList arguments = expectation.arguments;
    if (QFile::exists(events)) arguments << "--events" << events;
    arguments << appDir;
    QProcess process;
    process.setWorkingDirectory(appDir);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("ZENTU_EXPLAIN");
    for (const QString& setting : expectation.environment)
        environment.insert(setting.section('=', 0, 0), setting.section('=', 1));
    process.setProcessEnvironment(environment);
    process.start(runner, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit) {
        fail("zentu-run did not finish normally");
        std::fprintf(stderr, "%s", process.readAllStandardError().constData());
        return 1;
    }

    bool passed = compareLines(expectation.lines, process.readAllStandardError());
    const QByteArray output = process.readAllStandardOutput();
    if (!output.isEmpty()) {
        fail("zentu-run wrote to standard output: " + QString::fromUtf8(output));
        passed = false;
    }
    if (process.exitCode() != expectation.exitStatus) {
        fail(QString("exit status %1, expected %2")
                 .arg(process.exitCode())
                 .arg(expectation.exitStatus));
        passed = false;
    }
    if (QDir(base + ".after").exists() && !compareFiles(base + ".after", appDir)) passed = false;
    return passed ? 0 : 1;
}
