#pragma once

#include "CAppsString.h"
#include "GCObject.h"
#include "Types.h"
#include "Vec.h"

#include <cstdio>

// Byte streams over C stdio files and over memory. Streams never raise: failures return
// false, 0 or -1 and call onError(); callers turn them into application errors.
namespace ZARNOK {

class Stream {
public:
    virtual ~Stream() = default;
    virtual TBool isOpen() const { return isOpenFlag; }
    virtual void onError() {}

protected:
    TUint8 isOpenFlag = 0;
};

class InputStream : public Stream {
public:
    virtual TInt32 readByte() = 0;
    virtual TBool read(TUint8* buffer, TInt32 count) = 0;
    virtual TInt32 streamSize() = 0;
    virtual TInt32 position() = 0;
    virtual TBool seek(TInt32 offset) = 0;
    virtual TBool atEnd() = 0;
    virtual void close() = 0;
};

class OutputStream : public Stream {
public:
    virtual TBool writeByte(TUint8 byte) = 0;
    virtual TBool write(const TUint8* buffer, TInt32 count) = 0;
    virtual TInt32 streamSize() = 0;
    virtual TInt32 position() = 0;
    virtual TBool seek(TInt32 offset) = 0;
    virtual void close() = 0;
};

class FileInputStream : public InputStream {
public:
    FileInputStream() = default;
    ~FileInputStream() override;
    TBool open(const CAppsString& path);
    TInt32 readByte() override;
    TBool read(TUint8* buffer, TInt32 count) override;
    TInt32 streamSize() override;
    TInt32 position() override;
    TBool seek(TInt32 offset) override;
    TBool atEnd() override;
    void close() override;

private:
    FILE* file = nullptr;
};

class FileOutputStream : public OutputStream {
public:
    FileOutputStream() = default;
    ~FileOutputStream() override;
    TBool open(const CAppsString& path);
    TBool writeByte(TUint8 byte) override;
    TBool write(const TUint8* buffer, TInt32 count) override;
    TInt32 streamSize() override;
    TInt32 position() override;
    TBool seek(TInt32 offset) override;
    void close() override;

private:
    FILE* file = nullptr;
};

class MemoryInputStream : public InputStream {
public:
    virtual void setBuffer(const TUint8* bytes, TUint32 count);
    void setBuffer(const Vec<TUint8>& bytes);
    TInt32 readByte() override;
    TBool read(TUint8* buffer, TInt32 count) override;
    TInt32 streamSize() override;
    TInt32 position() override;
    TBool seek(TInt32 offset) override;
    TBool atEnd() override;
    void close() override;

private:
    Vec<TUint8> buffer;
    TInt32 readPosition = 0;
};

class MemoryOutputStream : public OutputStream {
public:
    // Writes into buffer; an owned buffer is deleted with the stream or on close().
    MemoryOutputStream(Vec<TUint8>* buffer, bool ownsBuffer);
    ~MemoryOutputStream() override;
    TBool writeByte(TUint8 byte) override;
    TBool write(const TUint8* bytes, TInt32 count) override;
    TInt32 streamSize() override;
    TInt32 position() override;
    TBool seek(TInt32 offset) override;
    void close() override;
    Vec<TUint8>* bytes() const { return buffer; }

private:
    Vec<TUint8>* buffer;
    TInt32 writePosition = 0;
    TUint8 ownsBuffer;
};

} // namespace ZARNOK

class CAppsFileReader : public GCObject {
public:
    explicit CAppsFileReader(const CAppsString& fileName);
    ~CAppsFileReader() override;
    TBool isOpen() const;
    TBool read(TUint8* buffer, TInt32 count);
    TBool readToString(TInt32 count, CAppsString& out);
    TBool appendToVector(Vec<TUint8>& bytes, TInt32 count);
    TBool appendRestToVector(Vec<TUint8>& bytes);
    TInt32 size();
    TInt32 position();
    TBool seek(TInt32 offset);
    ZARNOK::FileInputStream* stream() const { return fileStream; }
    const CAppsString& name() const { return fileName; }

private:
    CAppsString fileName;
    ZARNOK::FileInputStream* fileStream;
};

class CAppsFileWriter : public GCObject {
public:
    explicit CAppsFileWriter(const CAppsString& fileName);
    ~CAppsFileWriter() override;
    TBool isOpen() const;
    bool writeByteBufferToFile(const TUint8* bytes, int count);
    ZARNOK::FileOutputStream* stream() const { return fileStream; }
    const CAppsString& name() const { return fileName; }

private:
    CAppsString fileName;
    ZARNOK::FileOutputStream* fileStream;
};
