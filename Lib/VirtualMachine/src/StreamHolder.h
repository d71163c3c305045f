#pragma once

#include "AppsFileIO.h"
#include "Heap.h"

#include <memory>

constexpr TInt32 FILE_READER_TYPE_ID = 5;
constexpr TInt32 FILE_WRITER_TYPE_ID = 6;

// An application's open file. In the heap a holder is two words with gc code 12: word 0 its
// TYPEID (5 reader, 6 writer), word 1 the handle of this object, which owns the stream in host
// memory. Freeing the entry deletes the stream, which closes the file, and clears word 1.
class StreamHolder : public GCObject {
public:
    static Address newReaderHolder(VMHeap& heap, std::unique_ptr<ZARNOK::InputStream> stream);
    static Address newWriterHolder(VMHeap& heap, std::unique_ptr<ZARNOK::OutputStream> stream);

    static TInt32 typeId(const VMHeap& heap, Address holder) { return heap.arena().int32(holder); }
    // The stream of a holder whose TYPEID is 5 (6); null when the holder's word 1 does not
    // name a live holder of that kind, which bytecode can bring about by writing the words.
    static ZARNOK::InputStream* getInputStream(const VMHeap& heap, Address holder);
    static ZARNOK::OutputStream* getOutputStream(const VMHeap& heap, Address holder);

    ~StreamHolder() override { destruct(); }
    void destruct();

private:
    StreamHolder(std::unique_ptr<ZARNOK::InputStream> input,
                 std::unique_ptr<ZARNOK::OutputStream> output)
        : input(std::move(input)), output(std::move(output)) {}
    static StreamHolder* holderAt(const VMHeap& heap, Address holder, TInt32 expectedType);

    std::unique_ptr<ZARNOK::InputStream> input;
    std::unique_ptr<ZARNOK::OutputStream> output;
};
