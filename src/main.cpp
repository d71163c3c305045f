// zentu-vm: the runtime with its full-screen window.

#include "ErrorHandling.h"
#include "MainView.h"
#include "QtClientApplication.h"
#include "QtText.h"

#include <QDBusConnection>
#include <QDir>
#include <QFile>

#include <libgen.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr int kPathLimit = 4096;

// The last path component, as POSIX basename gives it.
std::string baseName(const char* path) {
    std::string copy(path);
    return ::basename(copy.data());
}

void writeFatalError(const CAppsString& text) {
    const std::string line = "FATAL: " + text.toUtf8() + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

int run(QtClientApplication& application, const CAppsString& applicationDirectory) {
    auto view = std::make_unique<MainView>(applicationDirectory);
    auto bus = std::make_unique<QDBusConnection>(QDBusConnection::systemBus());
    int status = 1;
    if (!bus->connect("com.nokia.mce", "/com/nokia/mce/signal", "com.nokia.mce.signal",
                      "display_status_ind", "s", view.get(), SLOT(displaySignal(QString)))) {
        std::fputs("FATAL: Failed to connect to dbus\n", stderr);
    } else {
        application.setMainView(view.get());
        view->setVisible(true);
        if (view->load() && !view->end().hasEnded())
            status = QApplication::exec();
        else
            status = view->end().hasEnded() ? view->end().exitStatus() : 1;
    }
    application.setMainView(nullptr);
    bus.reset();
    view.reset();
    return status;
}

} // namespace

int main(int argc, char** argv) {
    QtClientApplication application(argc, argv);
    CAppsString applicationDirectory;
    if (argc > 1 && std::strcmp(argv[1], "--auto") == 0) {
        const std::string name = baseName(argv[0]);
        char path[kPathLimit + 1];
        if (std::snprintf(path, sizeof path, "/opt/%s", name.c_str()) > kPathLimit) {
            std::fprintf(stderr, "%s: VM basename too long\n", name.c_str());
            return 1;
        }
        // The name is in the file system's encoding, like any path.
        applicationDirectory = fromQString(QFile::decodeName(path));
    } else {
        applicationDirectory = fromQString(QDir::currentPath());
    }
    try {
        return run(application, applicationDirectory);
    } catch (const ErrorHandlingException&) {
        writeFatalError(lastErrorText());
        return 1;
    }
}
