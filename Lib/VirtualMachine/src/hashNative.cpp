// The "Hash:" group: hash objects that accumulate bytes, and digests over byte vectors.

#include "VectorNatives.h"

#include "VectorObject.h"
#include "VirtualMachine.h"

#include <memory>

namespace {

const char* const kPrefix = "Hash:";

// The algorithm code and every byte fed so far.
struct Hasher {
    TInt32 algorithm;
    Vec<unsigned char> buffer;
};

// A hash object of the heap (code 17); the hasher lives in host memory.
class Hash : public GCObject {
public:
    explicit Hash(TInt32 algorithm) : hasher(std::make_unique<Hasher>(Hasher{algorithm, {}})) {}
    Hasher& state() { return *hasher; }

private:
    std::unique_ptr<Hasher> hasher;
};

// No algorithm code stands for a digest yet.
Vec<TUint8> digest(TInt32 algorithm, const TUint8* bytes, TInt32 count) {
    (void)algorithm;
    (void)bytes;
    (void)count;
    return {};
}

class HashCall {
public:
    explicit HashCall(VirtualMachine& vm) : vm(vm), heap(vm.heap()) {}

    void run(TInt32 function) {
        switch (function) {
        case 1: return create();
        case 2: return digestOfBytes();
        case 3: return feed();
        case 4: return digestSoFar();
        default: vm.raiseUnknownFunction(kPrefix);
        }
    }

private:
    TInt32 argument(TInt32 argumentSlots, TInt32 k) const {
        return vm.slot(vm.sp - argumentSlots + 1 + k);
    }
    OVector bytesAt(TInt32 argumentSlots, TInt32 k) const {
        OVector v = OVector::ofValue(heap, Address(argument(argumentSlots, k)), 1);
        vm.chargeWork(TUint64(v.count()));
        return v;
    }
    Hash& hashAt(TInt32 argumentSlots, TInt32 k) const {
        const Address box = Address(argument(argumentSlots, k));
        const Address object = box ? vm.arena().word(box) : 0;
        if (object == 0) raiseNullPointer();
        Hash* hash = dynamic_cast<Hash*>(heap.nativeObject(object));
        if (!hash) raise(KErrVM, "Hash: invalid hash object");
        return *hash;
    }
    Address newBytes(const Vec<TUint8>& bytes) {
        return newByteVectorValue(heap, bytes.data(), bytes.size());
    }

    // 1: box, algorithm
    void create() {
        const Address box = Address(argument(2, 0));
        if (box == 0) raiseNullPointer();
        const Address object =
            heap.allocateNative(std::make_unique<Hash>(argument(2, 1)), 8, GC_CODE_HASH);
        vm.arena().setWord(box, object);
        vm.sp -= 2;
    }
    // 2: bytes, algorithm -> bytes
    void digestOfBytes() {
        const OVector bytes = bytesAt(2, 0);
        const TInt32 count = bytes.count();
        const Address result =
            newBytes(digest(argument(2, 1), bytes.elementBytesAt(0, count), count));
        vm.sp -= 1;
        vm.setSlot(vm.sp, TInt32(result));
    }
    // 3: hash, bytes
    void feed() {
        Hash& hash = hashAt(2, 0);
        const OVector bytes = bytesAt(2, 1);
        hash.state().buffer.append(bytes.elementBytesAt(0, bytes.count()), bytes.count());
        vm.sp -= 2;
    }
    // 4: hash -> bytes
    void digestSoFar() {
        Hash& hash = hashAt(1, 0);
        const Hasher& hasher = hash.state();
        const Vec<TUint8> result =
            digest(hasher.algorithm, hasher.buffer.data(), hasher.buffer.size());
        vm.setSlot(vm.sp, TInt32(newBytes(result)));
    }

    VirtualMachine& vm;
    VMHeap& heap;
};

} // namespace

void hashNative(VirtualMachine& vm, TInt32 function) {
    HashCall(vm).run(function);
}
