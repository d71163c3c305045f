#pragma once

#include "CAppsString.h"
#include "Types.h"
#include "Vec.h"

namespace ZARNOK {
class FileInputStream;
class FileOutputStream;
} // namespace ZARNOK

// The file operations the natives ask of the host. Names are application file names, checked
// and resolved below the application directory by the host. Nothing here raises: failures
// come back as false or null, and the natives raise the application errors.
class FileSystemServices {
public:
    virtual ~FileSystemServices() = default;
    // The caller owns the returned streams.
    virtual ZARNOK::FileOutputStream* openFileForWriting(const CAppsString& name,
                                                         bool truncate) = 0;
    virtual ZARNOK::FileInputStream* openFileForReading(const CAppsString& name) = 0;
    virtual bool deleteFile(const CAppsString& name) = 0;
    virtual bool fileExists(const CAppsString& name) = 0;
    virtual int fileServiceReserved() = 0;
    virtual bool renameFile(const CAppsString& from, const CAppsString& to) = 0;
    virtual bool listDirectory(const CAppsString& name, Vec<CAppsString>& files,
                               Vec<CAppsString>& directories) = 0;
    virtual bool createDirectory(const CAppsString& name) = 0;
    virtual bool removeDirectory(const CAppsString& name) = 0;
    virtual bool renameDirectory(const CAppsString& from, const CAppsString& to) = 0;
    virtual bool directoryExists(const CAppsString& name) = 0;
};

// Everything else the machine and the natives ask of the host.
class FrameworkServices : public FileSystemServices {
public:
    virtual int systemQueryA() = 0;
    virtual int systemQueryB() = 0;
    virtual CAppsString pathSeparator() = 0;
    virtual CAppsString platformName() = 0;
    virtual TUint64 currentTimeMillis() = 0;
    virtual TUint64 elapsedMillis() = 0;
    virtual void repaintRect(int x, int y, int width, int height) = 0;
    virtual void log(const CAppsString& message) = 0;
    virtual bool setLogFile(const CAppsString& name) = 0;
    virtual int systemRequest(const CAppsString& request) = 0;
    virtual void exitApplication() = 0;
    virtual int reservedQueryA() = 0;
    virtual int reservedQueryB() = 0;
    virtual void reservedHintA() = 0;
    virtual void screenHint() = 0;
    virtual void setOrientation(int orientation) = 0;
    virtual int getOrientation() = 0;
    // Device extension call: works on the operand stack (slot i at stackBase + 4 * i, top
    // at index sp) and returns the new sp.
    virtual TInt32 callDll(int extension, int function, TInt32 sp, Address stackBase) = 0;
    virtual void getScreenSize(int& width, int& height) = 0;
    virtual void bitmapHint(int flag) = 0;
    virtual void screenHintB() = 0;
    virtual void screenHintC() = 0;
    virtual int addTimer(Address listener, int delay) = 0;
    virtual Address removeTimer(int id) = 0; // the timer's listener, 0 when there is none
    virtual bool updateTimerDelay(int id, int delay) = 0;
    virtual int reservedQueryC() = 0;
    virtual CAppsString applicationDirectory() = 0;
};
