#include "AudioPlayer.h"

#include "AppsFileIO.h"
#include "CAppsString.h"
#include "ErrorHandling.h"
#include "FrameworkServices.h"
#include "NativeGroups.h"
#include "VectorObject.h"

#include <pulse/glib-mainloop.h>
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

namespace {

// Operations whose outcome nobody waits for. A call refused at once (a stream still
// connecting) gives no operation at all.
void release(pa_operation* operation) {
    if (operation) pa_operation_unref(operation);
}

// A stream let go of while it was still being created cannot be disconnected yet; it is
// disconnected as soon as the server has made it, so it does not stay on the server.
void disconnectOnceReady(pa_stream* stream, void*) {
    if (pa_stream_get_state(stream) == PA_STREAM_READY) pa_stream_disconnect(stream);
}

std::unique_ptr<TUint8[]> newSampleBuffer(TInt32 size) {
    TUint8* buffer = new (std::nothrow) TUint8[size_t(size)];
    if (!buffer) raise(KErrInvalidArgument, "Out of memory");
    return std::unique_ptr<TUint8[]>(buffer);
}

} // namespace

// ---- AudioPlayer

AudioPlayer::AudioPlayer(AudioPlayerExtension& owner, std::unique_ptr<TUint8[]> data,
                         TInt32 byteCount)
    : extension(&owner), samples(std::move(data)), size(byteCount) {
    extension->players.insert(this);
}

AudioPlayer::~AudioPlayer() {
    releaseStream();
    if (extension) extension->players.erase(this);
}

void AudioPlayer::detach() {
    releaseStream();
    extension = nullptr;
}

void AudioPlayer::releaseStream() {
    if (!playback) return;
    // No callback may reach this player once it is gone.
    pa_stream_set_write_callback(playback, nullptr, nullptr);
    pa_stream_set_started_callback(playback, nullptr, nullptr);
    if (pa_stream_get_state(playback) == PA_STREAM_CREATING)
        pa_stream_set_state_callback(playback, disconnectOnceReady, nullptr);
    else
        pa_stream_disconnect(playback);
    pa_stream_unref(playback);
    playback = nullptr;
}

void AudioPlayer::initialise() {
    if (!extension || playback) return;
    pa_sample_spec spec;
    spec.format = PA_SAMPLE_S16LE;
    spec.rate = 44100;
    spec.channels = 1;
    playback = pa_stream_new(extension->context, AudioPlayerExtension::kStreamName, &spec, nullptr);
    if (!playback) return;
    pa_buffer_attr attributes;
    attributes.maxlength = TUint32(-1);
    attributes.tlength = TUint32(-1);
    attributes.prebuf = TUint32(-1);
    attributes.minreq = TUint32(-1);
    attributes.fragsize = TUint32(-1);
    pa_stream_connect_playback(playback, nullptr, &attributes, pa_stream_flags_t(0), nullptr,
                               nullptr);
    pa_stream_set_started_callback(playback, startedCallback, this);
    std::fprintf(stderr, "End of %s\n", "initialize");
}

void AudioPlayer::play() {
    position = 0;
    playState = Playing;
    if (!playback) return;
    release(pa_stream_prebuf(playback, nullptr, nullptr));
    pa_stream_set_write_callback(playback, writeCallback, this);
    // A stream that is still connecting answers (size_t) -1: nothing can be written yet, and
    // the write callback asks for the data once the stream is ready.
    const size_t writable = pa_stream_writable_size(playback);
    if (writable != size_t(-1) && writable > 0) writeSamples(writable);
}

void AudioPlayer::flush() {
    if (playState == Loaded || !playback) return;
    release(pa_stream_flush(playback, nullptr, nullptr));
    // The server pre-buffers again after a flush: until it reports the restart, the stream
    // counts as not started, so a rest shorter than the pre-buffer is triggered too.
    playState = Playing;
}

void AudioPlayer::startedCallback(pa_stream*, void* player) {
    static_cast<AudioPlayer*>(player)->playState = Started;
}

void AudioPlayer::writeCallback(pa_stream*, size_t request, void* player) {
    static_cast<AudioPlayer*>(player)->writeSamples(request);
}

void AudioPlayer::writeSamples(size_t request) {
    std::fprintf(stderr, "%s: req: %d, offset: %d, left: %d\n", "writeSamples", int(request),
                 position, size - position);
    const size_t count = std::min(request, size_t(TUint32(size - position)));
    if (count == 0) return;
    // A write the stream refuses leaves the position where it is, so those bytes are offered
    // again at the next request instead of being lost.
    if (pa_stream_write(playback, samples.get() + position, count, nullptr, 0, PA_SEEK_RELATIVE) <
        0)
        return;
    position += TInt32(count);
    // A sound shorter than the pre-buffer would otherwise wait for more data forever.
    if (position == size && playState != Started)
        release(pa_stream_trigger(playback, nullptr, nullptr));
}

// ---- DeferredOperation

DeferredOperation::DeferredOperation(VMHeap& vmHeap, Address target, Operation member)
    : heap(vmHeap), player(target), operation(member) {
    heap.pin(player);
}

DeferredOperation::~DeferredOperation() {
    heap.unpin(player);
}

void DeferredOperation::run() {
    if (auto* target = dynamic_cast<AudioPlayer*>(heap.nativeObject(player)))
        (target->*operation)();
}

// ---- AudioPlayerExtension

AudioPlayerExtension::AudioPlayerExtension(VirtualMachine& vm) : machine(vm) {
    mainloop = pa_glib_mainloop_new(nullptr);
    context = pa_context_new(pa_glib_mainloop_get_api(mainloop), kApplicationName);
    pa_context_set_state_callback(context, contextStateCallback, this);
    // Without a server the context fails and sounds stay silent; that is no error.
    pa_context_connect(context, nullptr, pa_context_flags_t(0), nullptr);
}

AudioPlayerExtension::~AudioPlayerExtension() {
    // Waiting operations are dropped, not run; their players are unpinned.
    deferred.clear();
    // Players outlive the extension until the collector frees them: they give up their streams
    // now, while the context and the main loop still exist.
    const std::vector<AudioPlayer*> remaining(players.begin(), players.end());
    for (AudioPlayer* player : remaining) player->detach();
    players.clear();
    pa_context_set_state_callback(context, nullptr, nullptr);
    // Disconnecting ends every stream still on the context, so none is left to reach the main
    // loop after it is freed.
    pa_context_disconnect(context);
    pa_context_unref(context);
    pa_glib_mainloop_free(mainloop);
}

bool AudioPlayerExtension::isReady() const {
    return pa_context_get_state(context) == PA_CONTEXT_READY;
}

void AudioPlayerExtension::contextStateCallback(pa_context* context, void* data) {
    auto* extension = static_cast<AudioPlayerExtension*>(data);
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_READY) {
        extension->runDeferred();
    } else if (!PA_CONTEXT_IS_GOOD(state)) {
        // There is no reconnection: what waits now would wait, pinned, for ever.
        extension->connectionLost = true;
        extension->deferred.clear();
    }
}

void AudioPlayerExtension::queue(Address player, DeferredOperation::Operation operation) {
    if (connectionLost) return;
    deferred.push_back(std::make_unique<DeferredOperation>(machine.heap(), player, operation));
    if (isReady()) runDeferred();
}

void AudioPlayerExtension::runDeferred() {
    // One at a time from the front, so an operation queued meanwhile runs in its turn.
    while (!deferred.empty()) {
        const std::unique_ptr<DeferredOperation> operation = std::move(deferred.front());
        deferred.pop_front();
        operation->run();
    }
}

AudioPlayer* AudioPlayerExtension::playerAt(Address reference) const {
    auto* player = dynamic_cast<AudioPlayer*>(machine.heap().nativeObject(reference));
    return player && players.count(player) ? player : nullptr;
}

Address AudioPlayerExtension::heldPlayer(Address holder) {
    if (holder == 0) raiseNullPointer();
    const Address player = machine.arena().word(holder);
    if (player == 0) raiseNullPointer();
    if (!playerAt(player)) raise(KErrVM, "AudioPlayer: Not a player");
    return player;
}

void AudioPlayerExtension::addPlayer(Address holder, std::unique_ptr<TUint8[]> samples,
                                     TInt32 size) {
    VMHeap& heap = machine.heap();
    const Address player =
        heap.allocateNative(std::make_unique<AudioPlayer>(*this, std::move(samples), size),
                            kPlayerBytes, GC_CODE_PLAIN);
    queue(player, &AudioPlayer::initialise);
    machine.arena().setWord(holder, player);
}

void AudioPlayerExtension::loadFromFile(Address holder, Address nameValue) {
    if (holder == 0) raiseNullPointer();
    const CAppsString name = machine.stringValue(nameValue).toCAppsString();
    std::unique_ptr<ZARNOK::FileInputStream> reader(hostServices(machine).openFileForReading(name));
    if (!reader) raise(KErrIO, CAppsString("Could not open file: ").append(name));
    const TInt32 size = reader->streamSize();
    if (size == 0) raise(KErrInvalidArgument, "File is empty");
    if (size < 0) raise(KErrIO, "");
    std::vector<TUint8> bytes;
    try {
        bytes.resize(size_t(size));
    } catch (const std::bad_alloc&) {
        raise(KErrInvalidArgument, "Out of memory");
    }
    if (!reader->read(bytes.data(), size)) raise(KErrIO, "");
    reader.reset();
    std::unique_ptr<TUint8[]> samples = newSampleBuffer(size);
    std::memcpy(samples.get(), bytes.data(), bytes.size());
    bytes = std::vector<TUint8>();
    addPlayer(holder, std::move(samples), size);
}

void AudioPlayerExtension::loadFromBytes(Address holder, Address bytesValue) {
    if (holder == 0) raiseNullPointer();
    const OVector bytes = OVector::ofValue(machine.heap(), bytesValue, 1);
    const TInt32 size = bytes.count();
    if (size <= 0) raise(KErrIndexOutOfBounds, "");
    std::unique_ptr<TUint8[]> samples = newSampleBuffer(size);
    std::memcpy(samples.get(), bytes.elementBytesAt(0, size), size_t(size));
    addPlayer(holder, std::move(samples), size);
}

TInt32 AudioPlayerExtension::slot(Address stackBase, TInt32 index) {
    return machine.arena().int32(stackBase + 4 * Address(index));
}

void AudioPlayerExtension::checkSlots(TInt32 top, TInt32 count) {
    if (top >= VirtualMachine::kStackSlots || TInt64(top) - count + 1 < 0)
        machine.fatalError("AudioPlayer: operand stack out of bounds", 1);
}

TInt32 AudioPlayerExtension::callDllNative(int opcode, TInt32 top, Address stackBase) {
    switch (opcode) {
    case ELoadFromFile:
    case ELoadFromBytes: {
        checkSlots(top, 3);
        const Address holder = Address(slot(stackBase, top - 2));
        const Address source = Address(slot(stackBase, top - 1));
        if (opcode == ELoadFromFile)
            loadFromFile(holder, source);
        else
            loadFromBytes(holder, source);
        return top - 3;
    }
    case EPlay:
    case EFlush: {
        checkSlots(top, 1);
        const Address player = heldPlayer(Address(slot(stackBase, top)));
        queue(player, opcode == EPlay ? &AudioPlayer::play : &AudioPlayer::flush);
        return top - 1;
    }
    // The rest of the player's interface does nothing on this platform; what answers, answers 0.
    case 6: checkSlots(top, 1); return top - 1;
    case 7:
    case 8:
    case 10:
    case 12:
    case 13:
        checkSlots(top, 1);
        machine.arena().setWord(stackBase + 4 * Address(top), 0);
        return top;
    case 9:
    case 11: checkSlots(top, 2); return top - 2;
    case 14: checkSlots(top, 3); return top - 3;
    default: machine.fatalError("AudioPlayer: Unknown opcode!", 1); return 0;
    }
}
