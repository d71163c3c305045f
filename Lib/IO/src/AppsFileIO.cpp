#include "AppsFileIO.h"

#include "ErrorHandling.h"
#include "FileUtility.h"

#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace ZARNOK {

namespace {

// stdio speaks long offsets, the streams 31-bit ones; anything that does not fit is a failure,
// never a silently truncated value.
bool fitsOffset(long value) {
    return value >= 0 && value <= INT32_MAX;
}

// -1 when the size is unknown; the file position is restored either way.
long sizeOfFile(FILE* file) {
    long saved = std::ftell(file);
    if (saved < 0) return -1;
    long end = std::fseek(file, 0, SEEK_END) == 0 ? std::ftell(file) : -1;
    bool restored = std::fseek(file, saved, SEEK_SET) == 0;
    return restored ? end : -1;
}

TInt32 sizeOf(Stream& stream, FILE* file) {
    long size = file ? sizeOfFile(file) : -1;
    if (fitsOffset(size)) return static_cast<TInt32>(size);
    stream.onError();
    return 0;
}

TInt32 positionOf(Stream& stream, FILE* file) {
    long position = file ? std::ftell(file) : -1;
    if (fitsOffset(position)) return static_cast<TInt32>(position);
    stream.onError();
    return -1;
}

TBool seekFile(Stream& stream, FILE* file, TInt32 offset, TInt32 size) {
    if (!file || offset < 0 || offset > size || std::fseek(file, offset, SEEK_SET) != 0) {
        stream.onError();
        return EFalse;
    }
    return ETrue;
}

void closeFile(FILE*& file) {
    if (file) std::fclose(file);
    file = nullptr;
}

// A directory opens fine through stdio on Linux but can never be read as a stream.
bool isDirectory(FILE* file) {
    struct stat status;
    return fstat(fileno(file), &status) == 0 && S_ISDIR(status.st_mode);
}

bool validTransfer(const void* bytes, TInt32 count) {
    return count == 0 || (bytes && count > 0);
}

} // namespace

// --- FileInputStream

FileInputStream::~FileInputStream() {
    close();
}

TBool FileInputStream::open(const CAppsString& path) {
    close();
    std::string name = FileUtility::nativeFileName(path);
    file = name.empty() ? nullptr : std::fopen(name.c_str(), "rb");
    if (file && isDirectory(file)) closeFile(file);
    isOpenFlag = file != nullptr;
    if (!isOpen()) onError();
    return isOpen();
}

TInt32 FileInputStream::readByte() {
    int byte = file ? std::getc(file) : EOF;
    if (byte != EOF) return byte;
    onError();
    return -1;
}

TBool FileInputStream::read(TUint8* buffer, TInt32 count) {
    if (!file || !validTransfer(buffer, count) ||
        (count > 0 && std::fread(buffer, 1, count, file) != static_cast<size_t>(count))) {
        onError();
        return EFalse;
    }
    return ETrue;
}

TInt64 FileInputStream::fileSize() {
    return file ? sizeOfFile(file) : -1;
}

TInt32 FileInputStream::streamSize() {
    return sizeOf(*this, file);
}

TInt32 FileInputStream::position() {
    return positionOf(*this, file);
}

TBool FileInputStream::seek(TInt32 offset) {
    return seekFile(*this, file, offset, file ? streamSize() : 0);
}

TBool FileInputStream::atEnd() {
    return !file || position() == streamSize();
}

void FileInputStream::close() {
    isOpenFlag = 0;
    closeFile(file);
}

// --- FileOutputStream

FileOutputStream::~FileOutputStream() {
    close();
}

TBool FileOutputStream::open(const CAppsString& path) {
    return openWith(path, false);
}

TBool FileOutputStream::openForAppend(const CAppsString& path) {
    return openWith(path, true);
}

TBool FileOutputStream::openWith(const CAppsString& path, bool append) {
    close();
    std::string name = FileUtility::nativeFileName(path);
    if (name.empty() || FileUtility::isRelative(path)) {
        onError();
        return EFalse;
    }
    CAppsString directory = FileUtility::directoryOf(path);
    if (!FileUtility::directoryExists(directory) && !FileUtility::makePath(directory)) {
        onError();
        return EFalse;
    }
    if (append) {
        // "ab" would force every write to the end and so defeat seek; opened for update
        // instead, created when missing, and positioned at the end.
        int descriptor = ::open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
        file = descriptor < 0 ? nullptr : fdopen(descriptor, "wb");
        if (!file && descriptor >= 0) ::close(descriptor);
        if (file && std::fseek(file, 0, SEEK_END) != 0) closeFile(file);
    } else {
        file = std::fopen(name.c_str(), "wb");
    }
    isOpenFlag = file != nullptr;
    if (!isOpen()) onError();
    return isOpen();
}

TBool FileOutputStream::writeByte(TUint8 byte) {
    if (!file || std::putc(byte, file) == EOF) {
        onError();
        return EFalse;
    }
    return ETrue;
}

TBool FileOutputStream::write(const TUint8* buffer, TInt32 count) {
    if (!file || !validTransfer(buffer, count) ||
        (count > 0 && std::fwrite(buffer, 1, count, file) != static_cast<size_t>(count)) ||
        std::fflush(file) != 0) {
        // What stdio kept of the failed bytes must not reach the file later, behind the
        // caller's back.
        if (file) {
            __fpurge(file);
            std::clearerr(file);
        }
        onError();
        return EFalse;
    }
    return ETrue;
}

TInt32 FileOutputStream::streamSize() {
    return sizeOf(*this, file);
}

TInt32 FileOutputStream::position() {
    return positionOf(*this, file);
}

TBool FileOutputStream::seek(TInt32 offset) {
    return seekFile(*this, file, offset, file ? streamSize() : 0);
}

void FileOutputStream::close() {
    isOpenFlag = 0;
    closeFile(file);
}

// --- MemoryInputStream

void MemoryInputStream::setBuffer(const TUint8* aBuffer, TUint32 count) {
    Z_CHECK(aBuffer);
    readPosition = 0;
    if (count > static_cast<TUint32>(INT32_MAX)) {
        buffer.clear();
        isOpenFlag = 0;
        onError();
        return;
    }
    // Copied aside first: aBuffer may point into the current buffer.
    Vec<TUint8> copy;
    copy.append(aBuffer, static_cast<TInt32>(count));
    buffer = std::move(copy);
    isOpenFlag = 1;
}

void MemoryInputStream::setBuffer(const Vec<TUint8>& bytes) {
    buffer = bytes;
    readPosition = 0;
    isOpenFlag = 1;
}

TInt32 MemoryInputStream::readByte() {
    if (readPosition >= buffer.size()) {
        onError();
        return 0;
    }
    return buffer[readPosition++];
}

TBool MemoryInputStream::read(TUint8* bytes, TInt32 count) {
    if (!validTransfer(bytes, count)) {
        onError();
        return EFalse;
    }
    if (count > buffer.size() - readPosition) {
        onError();
        readPosition = buffer.size();
        return EFalse;
    }
    if (count > 0) std::memcpy(bytes, buffer.data() + readPosition, count);
    readPosition += count;
    return ETrue;
}

TInt32 MemoryInputStream::streamSize() {
    return buffer.size();
}

TInt32 MemoryInputStream::position() {
    return readPosition;
}

TBool MemoryInputStream::seek(TInt32 offset) {
    if (offset < 0 || offset > buffer.size()) {
        onError();
        return EFalse;
    }
    readPosition = offset;
    return ETrue;
}

TBool MemoryInputStream::atEnd() {
    return readPosition >= buffer.size();
}

// --- MemoryOutputStream

MemoryOutputStream::MemoryOutputStream(Vec<TUint8>* buffer, bool ownsBuffer)
    : buffer(buffer), ownsBuffer(ownsBuffer) {
    isOpenFlag = buffer != nullptr;
}

MemoryOutputStream::~MemoryOutputStream() {
    close();
}

TBool MemoryOutputStream::writeByte(TUint8 byte) {
    // The owner may have shrunk the vector behind our back: never write past its end.
    if (!isOpen() || !buffer || writePosition > buffer->size()) {
        onError();
        return EFalse;
    }
    if (writePosition == buffer->size()) {
        buffer->append(byte);
    } else {
        (*buffer)[writePosition] = byte;
    }
    ++writePosition;
    return ETrue;
}

TBool MemoryOutputStream::write(const TUint8* bytes, TInt32 count) {
    if (!isOpen() || !validTransfer(bytes, count)) {
        onError();
        return EFalse;
    }
    for (TInt32 i = 0; i < count; ++i)
        if (!writeByte(bytes[i])) return EFalse;
    return ETrue;
}

TInt32 MemoryOutputStream::streamSize() {
    return buffer ? buffer->size() : 0;
}

TInt32 MemoryOutputStream::position() {
    return writePosition;
}

TBool MemoryOutputStream::seek(TInt32 offset) {
    if (!buffer || offset < 0 || offset > buffer->size()) {
        onError();
        return EFalse;
    }
    writePosition = offset;
    return ETrue;
}

void MemoryOutputStream::close() {
    isOpenFlag = 0;
    if (!ownsBuffer) return;
    delete buffer;
    buffer = nullptr;
    ownsBuffer = 0;
}

} // namespace ZARNOK

// --- CAppsFileReader

CAppsFileReader::CAppsFileReader(const CAppsString& fileName)
    : fileName(fileName), fileStream(new ZARNOK::FileInputStream) {
    fileStream->open(fileName);
}

CAppsFileReader::CAppsFileReader(ZARNOK::FileInputStream* stream) : fileStream(stream) {}

CAppsFileReader::~CAppsFileReader() {
    delete fileStream;
}

TBool CAppsFileReader::isOpen() const {
    return fileStream && fileStream->isOpen();
}

TBool CAppsFileReader::read(TUint8* buffer, TInt32 count) {
    return fileStream && fileStream->read(buffer, count);
}

TBool CAppsFileReader::readToString(TInt32 count, CAppsString& out) {
    out.clear();
    Vec<TUint8> bytes;
    if (!appendToVector(bytes, count)) return EFalse;
    out.reserve(count);
    for (TUint8 byte : bytes) out.append(TUint16(byte));
    return ETrue;
}

TBool CAppsFileReader::appendToVector(Vec<TUint8>& bytes, TInt32 count) {
    if (!isOpen() || count < 0) return EFalse;
    if (count == 0) return ETrue;
    // A count beyond the file (a corrupt length field, say) fails before anything is allocated.
    TInt32 here = position();
    if (here < 0 || count > size() - here || count > INT32_MAX - bytes.size()) return EFalse;
    TInt32 oldSize = bytes.size();
    bytes.resize(oldSize + count);
    if (fileStream->read(bytes.data() + oldSize, count)) return ETrue;
    bytes.resize(oldSize);
    return EFalse;
}

TBool CAppsFileReader::appendRestToVector(Vec<TUint8>& bytes) {
    // streamSize() cannot tell an empty file from one whose size is unknown or too large.
    TInt64 total = isOpen() ? fileStream->fileSize() : -1;
    TInt32 here = position();
    if (total < 0 || total > INT32_MAX || here < 0) return EFalse;
    return appendToVector(bytes, static_cast<TInt32>(total) - here);
}

TInt32 CAppsFileReader::size() {
    return fileStream ? fileStream->streamSize() : 0;
}

TInt32 CAppsFileReader::position() {
    return fileStream ? fileStream->position() : -1;
}

TBool CAppsFileReader::seek(TInt32 offset) {
    return fileStream && fileStream->seek(offset);
}

// --- CAppsFileWriter

CAppsFileWriter::CAppsFileWriter(const CAppsString& fileName)
    : fileName(fileName), fileStream(new ZARNOK::FileOutputStream) {
    fileStream->open(fileName);
}

CAppsFileWriter::~CAppsFileWriter() {
    delete fileStream;
}

TBool CAppsFileWriter::isOpen() const {
    return fileStream && fileStream->isOpen();
}

bool CAppsFileWriter::writeByteBufferToFile(const TUint8* aBytes, int aNumberOfBytes) {
    Z_CHECK(aNumberOfBytes >= 0);
    if (!fileStream) return false;
    return fileStream->write(aBytes, aNumberOfBytes);
}
