#include "StreamHolder.h"

namespace {

Address newHolder(VMHeap& heap, std::unique_ptr<GCObject> object, TInt32 typeId) {
    const Address holder = heap.allocateNative(std::move(object), 8, GC_CODE_STREAM_HOLDER);
    heap.arena().setWord(holder, TUint32(typeId));
    return holder;
}

} // namespace

Address StreamHolder::newReaderHolder(VMHeap& heap, std::unique_ptr<ZARNOK::InputStream> stream) {
    std::unique_ptr<GCObject> object(new StreamHolder(std::move(stream), nullptr));
    return newHolder(heap, std::move(object), FILE_READER_TYPE_ID);
}

Address StreamHolder::newWriterHolder(VMHeap& heap, std::unique_ptr<ZARNOK::OutputStream> stream) {
    std::unique_ptr<GCObject> object(new StreamHolder(nullptr, std::move(stream)));
    return newHolder(heap, std::move(object), FILE_WRITER_TYPE_ID);
}

StreamHolder* StreamHolder::holderAt(const VMHeap& heap, Address holder, TInt32 expectedType) {
    if (holder == 0 || typeId(heap, holder) != expectedType) return nullptr;
    const HeapEntry& he = heap.entry(holder - kHeaderSize);
    if (he.gcCode != GC_CODE_STREAM_HOLDER) return nullptr;
    return dynamic_cast<StreamHolder*>(heap.nativeObject(holder));
}

ZARNOK::InputStream* StreamHolder::getInputStream(const VMHeap& heap, Address holder) {
    StreamHolder* object = holderAt(heap, holder, FILE_READER_TYPE_ID);
    return object ? object->input.get() : nullptr;
}

ZARNOK::OutputStream* StreamHolder::getOutputStream(const VMHeap& heap, Address holder) {
    StreamHolder* object = holderAt(heap, holder, FILE_WRITER_TYPE_ID);
    return object ? object->output.get() : nullptr;
}

void StreamHolder::destruct() {
    input.reset();
    output.reset();
}
