#pragma once

#include "FrameworkServices.h"
#include "HostFileServices.h"

#include <chrono>
#include <memory>

class Scheduler;

// The host services every front end shares: the file services below the application
// directory, the clocks, the application log, the timers of the scheduler, the screen size by
// orientation, and the operations that answer 0 or do nothing on this platform. A front end
// adds what depends on its window and its devices.
class HostServices : public FrameworkServices {
public:
    static constexpr int kLandscape = 2;

    HostServices(const CAppsString& applicationDirectory, Scheduler& scheduler);
    ~HostServices() override;

    // The origin of elapsedMillis: the host marks it when the image load begins.
    void markStartTime();
    HostFileServices& files() { return fileServices; }

    // FileSystemServices, through the shared file services.
    ZARNOK::FileOutputStream* openFileForWriting(const CAppsString& name, bool truncate) override {
        return fileServices.openFileForWriting(name, truncate);
    }
    ZARNOK::FileInputStream* openFileForReading(const CAppsString& name) override {
        return fileServices.openFileForReading(name);
    }
    bool deleteFile(const CAppsString& name) override { return fileServices.deleteFile(name); }
    bool fileExists(const CAppsString& name) override { return fileServices.fileExists(name); }
    int fileServiceReserved() override { return fileServices.fileServiceReserved(); }
    bool renameFile(const CAppsString& from, const CAppsString& to) override {
        return fileServices.renameFile(from, to);
    }
    bool listDirectory(const CAppsString& name, Vec<CAppsString>& files,
                       Vec<CAppsString>& directories) override {
        return fileServices.listDirectory(name, files, directories);
    }
    bool createDirectory(const CAppsString& name) override {
        return fileServices.createDirectory(name);
    }
    bool removeDirectory(const CAppsString& name) override {
        return fileServices.removeDirectory(name);
    }
    bool renameDirectory(const CAppsString& from, const CAppsString& to) override {
        return fileServices.renameDirectory(from, to);
    }
    bool directoryExists(const CAppsString& name) override {
        return fileServices.directoryExists(name);
    }

    int systemQueryA() override { return 0; }
    int systemQueryB() override { return 0; }
    CAppsString pathSeparator() override { return CAppsString("/"); }
    CAppsString platformName() override { return CAppsString("maemo"); }
    TUint64 currentTimeMillis() override;
    TUint64 elapsedMillis() override;
    // "LOG: " and the low 8 bits of every character to standard error; "LOG: " and the UTF-8
    // text to the log file, when there is one and the message is not empty.
    void log(const CAppsString& message) override;
    // An empty name closes the log file; otherwise a new, emptied log file replaces it.
    bool setLogFile(const CAppsString& name) override;
    int systemRequest(const CAppsString&) override { return 0; }
    int reservedQueryA() override { return 0; }
    int reservedQueryB() override { return 0; }
    void reservedHintA() override {}
    void screenHint() override {}
    void setOrientation(int newOrientation) override { orientation = newOrientation; }
    int getOrientation() override { return orientation; }
    // 800 x 480 in landscape, else 480 x 800, whatever the real screen.
    void getScreenSize(int& width, int& height) override;
    void bitmapHint(int) override {}
    void screenHintB() override {}
    void screenHintC() override {}
    int addTimer(Address listener, int delay) override;
    Address removeTimer(int id) override;
    bool updateTimerDelay(int id, int delay) override;
    int reservedQueryC() override { return 0; }
    CAppsString applicationDirectory() override { return fileServices.applicationDirectory(); }

private:
    HostFileServices fileServices;
    Scheduler& scheduler;
    std::chrono::steady_clock::time_point startTime;
    int orientation = kLandscape;
    std::unique_ptr<ZARNOK::FileOutputStream> logWriter;
};
