#pragma once

#include "GCObject.h"
#include "Types.h"
#include "VirtualMachine.h"

#include <cstddef>
#include <deque>
#include <memory>
#include <unordered_set>

struct pa_context;
struct pa_glib_mainloop;
struct pa_stream;

class AudioPlayerExtension;

// One loaded sound: raw signed 16-bit little-endian mono samples at 44100 Hz and the stream
// that plays them. It lives in the machine's native-object table behind a heap entry that
// holds only its handle, so bytecode never sees the stream or the samples.
class AudioPlayer : public GCObject {
public:
    enum State : TInt32 { Playing = 0, Started = 1, Loaded = 2 };

    AudioPlayer(AudioPlayerExtension& extension, std::unique_ptr<TUint8[]> samples, TInt32 size);
    ~AudioPlayer() override;
    AudioPlayer(const AudioPlayer&) = delete;
    AudioPlayer& operator=(const AudioPlayer&) = delete;
    int getContentSize() const override { return size; }

    // The operations that wait for the server connection.
    void initialise();
    void play();
    void flush();

    // Lets go of the stream and of the extension, which is going away: the player then plays
    // nothing and touches no PulseAudio object, however long the collector keeps it.
    void detach();

    bool attached() const { return extension != nullptr; }
    pa_stream* stream() const { return playback; }
    TInt32 byteCount() const { return size; }
    TInt32 bytesWritten() const { return position; }
    TInt32 state() const { return playState; }

private:
    static void startedCallback(pa_stream* stream, void* player);
    static void writeCallback(pa_stream* stream, size_t request, void* player);
    void writeSamples(size_t request);
    void releaseStream();

    AudioPlayerExtension* extension;
    pa_stream* playback = nullptr;
    std::unique_ptr<TUint8[]> samples;
    TInt32 size;
    TInt32 position = 0;
    TInt32 playState = Loaded;
};

// A player operation waiting for the server. The player stays pinned while it waits, and the
// operation finds it again through the heap when it runs, so it holds no host pointer.
class DeferredOperation {
public:
    using Operation = void (AudioPlayer::*)();

    DeferredOperation(VMHeap& heap, Address player, Operation operation);
    virtual ~DeferredOperation();
    DeferredOperation(const DeferredOperation&) = delete;
    DeferredOperation& operator=(const DeferredOperation&) = delete;
    // A player whose handle word was overwritten meanwhile is no player: nothing runs.
    void run();

private:
    VMHeap& heap;
    Address player;
    Operation operation;
};

// Extension 28: short sounds through PulseAudio. The GLib main-loop adapter runs on the
// default GLib context, which the toolkit's event loop drives, so every PulseAudio callback
// arrives on the machine's thread between entry calls. The extension must not outlive its
// machine: waiting operations unpin their players in its heap when it goes.
class AudioPlayerExtension {
public:
    static constexpr const char* kApplicationName = "zentu-vm";
    static constexpr const char* kStreamName = "zentu-audio-player";
    static constexpr TUint32 kPlayerBytes = 28;
    enum Opcode { ELoadFromFile = 1, ELoadFromBytes, EPlay, EFlush };

    explicit AudioPlayerExtension(VirtualMachine& vm);
    ~AudioPlayerExtension();
    AudioPlayerExtension(const AudioPlayerExtension&) = delete;
    AudioPlayerExtension& operator=(const AudioPlayerExtension&) = delete;
    TInt32 callDllNative(int opcode, TInt32 top, Address stackBase);

    // The live player a reference names, or null.
    AudioPlayer* playerAt(Address reference) const;
    bool isReady() const;
    int waitingOperations() const { return int(deferred.size()); }
    int livePlayers() const { return int(players.size()); }

private:
    friend class AudioPlayer;

    static void contextStateCallback(pa_context* context, void* extension);
    void loadFromFile(Address holder, Address name);
    void loadFromBytes(Address holder, Address bytes);
    void addPlayer(Address holder, std::unique_ptr<TUint8[]> samples, TInt32 size);
    // The player in word 0 of the holder; anything else is an application error.
    Address heldPlayer(Address holder);
    void queue(Address player, DeferredOperation::Operation operation);
    void runDeferred();
    TInt32 slot(Address stackBase, TInt32 index);
    // Fatal unless slots top - count + 1 .. top lie on the operand stack.
    void checkSlots(TInt32 top, TInt32 count);

    pa_glib_mainloop* mainloop = nullptr;
    pa_context* context = nullptr;
    VirtualMachine& machine;
    std::deque<std::unique_ptr<DeferredOperation>> deferred;
    std::unordered_set<AudioPlayer*> players;
    // The connection has failed or ended: it never becomes ready, so nothing is kept waiting.
    bool connectionLost = false;
};
