#pragma once

#include "CAppsString.h"
#include "GCObject.h"
#include "Types.h"
#include "Vec.h"

#include <cstdio>

// Byte streams over C stdio files and over memory. Streams never raise: failures return
// false, 0 or -1 and call onError(); callers turn them into application errors.
// A failing seek never moves the stream, and negative offsets and counts always fail.
namespace ZARNOK {

class Stream {
public:
    Stream() = default;
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;
    virtual ~Stream() = default;
    virtual TBool isOpen() const { return isOpenFlag; }
    virtual void onError() {}

protected:
    TUint8 isOpenFlag = 0;
};

class InputStream : public Stream {
public:
    // The next byte; at the end -1 for files and 0 for memory.
    virtual TInt32 readByte() = 0;
    // True only when all count bytes were read.
    virtual TBool read(TUint8* buffer, TInt32 count) = 0;
    virtual TInt32 streamSize() = 0;
    virtual TInt32 position() = 0;
    // Any offset from 0 to streamSize() inclusive.
    virtual TBool seek(TInt32 offset) = 0;
    virtual TBool atEnd() = 0;
    virtual void close() = 0;
};

class OutputStream : public Stream {
public:
    virtual TBool writeByte(TUint8 byte) = 0;
    // True only when all count bytes were written.
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
    // Closes any file opened before.
    TBool open(const CAppsString& path);
    TInt32 readByte() override;
    TBool read(TUint8* buffer, TInt32 count) override;
    // 0 when the size is unknown or does not fit 31 bits.
    TInt32 streamSize() override;
    // The full size, -1 when unknown.
    TInt64 fileSize();
    // -1 when the position is unknown or does not fit 31 bits.
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
    // Absolute paths only; creates missing directories and truncates the file.
    TBool open(const CAppsString& path);
    // As open, but keeps the file's contents and starts writing at its end; creates a missing
    // file. The old bytes are never rewritten, so a failure can lose only new ones.
    TBool openForAppend(const CAppsString& path);
    TBool writeByte(TUint8 byte) override;
    // The bytes have reached the system when it returns true: a full disk or a file that
    // cannot be written fails here, not later at close.
    TBool write(const TUint8* buffer, TInt32 count) override;
    TInt32 streamSize() override;
    TInt32 position() override;
    TBool seek(TInt32 offset) override;
    void close() override;

private:
    TBool openWith(const CAppsString& path, bool append);

    FILE* file = nullptr;
};

class MemoryInputStream : public InputStream {
public:
    // Reads from a copy of the bytes, from the start.
    virtual void setBuffer(const TUint8* aBuffer, TUint32 count);
    void setBuffer(const Vec<TUint8>& bytes);
    TInt32 readByte() override;
    TBool read(TUint8* bytes, TInt32 count) override;
    TInt32 streamSize() override;
    TInt32 position() override;
    TBool seek(TInt32 offset) override;
    TBool atEnd() override;
    // The bytes stay readable.
    void close() override {}

private:
    Vec<TUint8> buffer;
    TInt32 readPosition = 0;
};

class MemoryOutputStream : public OutputStream {
public:
    // Writes into buffer, overwriting from the start and appending past its end. An owned
    // buffer is deleted on close() or with the stream; a null buffer gives a closed stream.
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
    // Takes ownership of a stream opened elsewhere (the host's open service); may be null.
    explicit CAppsFileReader(ZARNOK::FileInputStream* stream);
    CAppsFileReader(const CAppsFileReader&) = delete;
    CAppsFileReader& operator=(const CAppsFileReader&) = delete;
    ~CAppsFileReader() override;
    TBool isOpen() const;
    TBool read(TUint8* buffer, TInt32 count);
    // Each byte becomes one character of out.
    TBool readToString(TInt32 count, CAppsString& out);
    // Grows bytes by count and reads into the new tail; on failure bytes keeps its old size.
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
    CAppsFileWriter(const CAppsFileWriter&) = delete;
    CAppsFileWriter& operator=(const CAppsFileWriter&) = delete;
    ~CAppsFileWriter() override;
    TBool isOpen() const;
    bool writeByteBufferToFile(const TUint8* aBytes, int aNumberOfBytes);
    ZARNOK::FileOutputStream* stream() const { return fileStream; }
    const CAppsString& name() const { return fileName; }

private:
    CAppsString fileName;
    ZARNOK::FileOutputStream* fileStream;
};
