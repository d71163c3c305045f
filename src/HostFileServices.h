#pragma once

#include "FrameworkServices.h"

// The application's file services: every name is checked, then resolved below the
// application directory, so an application never reaches a file outside it. Shared by every
// host. Nothing here raises; failures come back as false or null.
class HostFileServices : public FileSystemServices {
public:
    explicit HostFileServices(const CAppsString& applicationDirectory);

    // Empty names and names containing "..", ":", "|" or a NUL character are refused.
    static bool isAcceptableName(const CAppsString& name);
    // Backslashes become "/", runs of "/" collapse, and the result is joined to the
    // application directory with exactly one "/".
    CAppsString resolve(const CAppsString& name) const;
    const CAppsString& applicationDirectory() const { return directory; }

    ZARNOK::FileOutputStream* openFileForWriting(const CAppsString& name, bool truncate) override;
    ZARNOK::FileInputStream* openFileForReading(const CAppsString& name) override;
    bool deleteFile(const CAppsString& name) override;
    bool fileExists(const CAppsString& name) override;
    int fileServiceReserved() override { return 0; }
    bool renameFile(const CAppsString& from, const CAppsString& to) override;
    bool listDirectory(const CAppsString& name, Vec<CAppsString>& files,
                       Vec<CAppsString>& directories) override;
    bool createDirectory(const CAppsString& name) override;
    bool removeDirectory(const CAppsString& name) override;
    bool renameDirectory(const CAppsString& from, const CAppsString& to) override;
    bool directoryExists(const CAppsString& name) override;

private:
    // The directory may be neither removed nor renamed, nor replaced by a rename.
    bool isApplicationDirectory(const CAppsString& path) const;
    // Whether the name, or a directory on its way down from the application directory, is a
    // link: what is removed must stay inside the application directory.
    bool passesThroughLink(const CAppsString& name) const;

    CAppsString directory;
};
