// Random and mutated images, run with a step budget: whatever the bytes, the machine ends each
// call with a result, an error or the fatal error, and never touches memory it does not own
// (the suite runs under AddressSanitizer and UndefinedBehaviorSanitizer).

#include "Image.h"
#include "InterpreterHarness.h"
#include "Opcodes.h"

#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <cstdio>
#include <random>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class ImageGenerator {
public:
    explicit ImageGenerator(std::uint32_t seed) : random(seed) {}

    Image randomImage() {
        Image image;
        for (int i = between(1, 5); i > 0; --i) image.types.push_back(randomType());
        for (int i = between(3, 6); i > 0; --i) image.methods.push_back(randomMethod());
        for (int i = between(1, 3); i > 0; --i) image.strings.push_back("text");
        const int size = between(10, 400);
        image.code = prologue();
        const std::vector<std::uint8_t> body = randomCode(image, size);
        image.code.insert(image.code.end(), body.begin(), body.end());
        image.exportedMethods = {
            {"main", 0, 0},
            {"vminternalthrow<int>,<*string>", between(0, size - 1), 1},
            {"vmprintthrowableandexit<*throwable>", between(0, size - 1), 2},
        };
        image.virtualMethods = {{"v", randomEntries(image, size)},
                                {"<*application>.foreground event", randomEntries(image, size)}};
        return image;
    }

    // A few edits of valid code: bytes changed, inserted or removed, operands made extreme.
    Image mutated(Image image) {
        std::vector<std::uint8_t>& code = image.code;
        for (int edits = between(1, 4); edits > 0 && !code.empty(); --edits) {
            const size_t at = between(0, static_cast<int>(code.size()) - 1);
            switch (between(0, 4)) {
            case 0: code[at] = static_cast<std::uint8_t>(between(0, 255)); break;
            case 1: code[at] ^= static_cast<std::uint8_t>(1 << between(0, 7)); break;
            case 2: code.erase(code.begin() + at); break;
            case 3: {
                const std::vector<std::uint8_t> more = randomCode(image, between(1, 12));
                code.insert(code.begin() + at, more.begin(), more.end());
                break;
            }
            default:
                for (size_t i = at; i < code.size() && i < at + 4; ++i)
                    code[i] = static_cast<std::uint8_t>(between(0, 1) ? 0xFF : 0x7F);
            }
        }
        return image;
    }

private:
    int between(int low, int high) {
        return low + static_cast<int>(random() % (static_cast<std::uint32_t>(high - low) + 1));
    }
    bool chance(int percent) { return between(1, 100) <= percent; }

    Image::Type randomType() {
        Image::Type type;
        for (int i = between(0, 2); i > 0; --i) type.refOffsets.push_back(between(0, 4));
        if (chance(60)) {
            type.superFlag = 1;
            type.superType = between(-1, 6); // also cycles and types that do not exist
        }
        return type;
    }

    Image::MethodInfo randomMethod() {
        Image::MethodInfo method;
        method.argSlots = between(0, 3);
        method.extraSlots = between(0, 2);
        method.localSlots = between(0, 3);
        for (int i = between(0, 2); i > 0; --i) method.offsetsA.push_back(between(0, 5));
        for (int i = between(0, 2); i > 0; --i) method.offsetsC.push_back(between(0, 8));
        return method;
    }

    std::vector<Image::VirtualEntry> randomEntries(const Image& image, int size) {
        std::vector<Image::VirtualEntry> entries;
        for (int i = between(0, 3); i > 0; --i)
            entries.push_back({between(0, static_cast<int>(image.types.size())),
                               between(0, size - 1),
                               between(-1, static_cast<int>(image.methods.size()))});
        return entries;
    }

    std::int32_t int32Operand() {
        static const std::int32_t extremes[] = {INT_MIN, INT_MAX, -1, 0, 1, 31, 32, 0xFFFF, 100000};
        if (chance(70)) return between(-8, 40);
        if (chance(70)) return extremes[between(0, std::size(extremes) - 1)];
        return static_cast<std::int32_t>(random());
    }

    std::int32_t operand(OperandKind kind, const Image& image, int size) {
        const int types = static_cast<int>(image.types.size());
        switch (kind) {
        case OperandKind::S8: return chance(80) ? between(-6, 6) : between(-128, 127);
        case OperandKind::U8: return chance(80) ? between(1, 17) : between(0, 255);
        case OperandKind::S16Jump: return between(-30, 30);
        case OperandKind::S32Jump: return between(-60, 60);
        case OperandKind::CodeOffset: return chance(90) ? between(0, size) : int32Operand();
        case OperandKind::MethodIndex: return between(-1, static_cast<int>(image.methods.size()));
        case OperandKind::NamedMethod: return between(0, 1);
        case OperandKind::StringConst: return between(0, static_cast<int>(image.strings.size()));
        case OperandKind::TypeId: return between(0, types);
        case OperandKind::HandlerType: return between(-1, types);
        case OperandKind::HandlerOffset: return between(-40, 40);
        default: return int32Operand();
        }
    }

    // Operands for what follows: numbers, objects, a box, a stack address, a string.
    std::vector<std::uint8_t> prologue() {
        static const std::vector<std::uint8_t> pieces[] = {
            {0x14, 3, 0, 0, 0},    // push_int 3
            {0x14, 0xFF, 0, 0, 0}, // push_int 255
            {0x3B},                // push_false
            {0x11, 2, 4, 0, 0, 0}, // new_object 2, 4
            {0x11, 1, 3, 0, 0, 0}, // new_object 1, 3
            {0x12, 0x7E},          // dup, box
            {0x03, 0xFE},          // push_local_addr -2
            {0x15, 0, 0, 0, 0},    // push_string 0
        };
        std::vector<std::uint8_t> code;
        for (int i = between(4, 16); i > 0; --i) {
            const std::vector<std::uint8_t>& piece = pieces[between(0, std::size(pieces) - 1)];
            code.insert(code.end(), piece.begin(), piece.end());
        }
        return code;
    }

    // Mostly whole instructions with plausible operands, some raw bytes. Native calls are
    // left out: their arguments would be random, and what natives do with them is the
    // business of their own tests.
    std::vector<std::uint8_t> randomCode(const Image& image, int size) {
        std::vector<std::uint8_t> code;
        while (static_cast<int>(code.size()) < size) {
            const auto opcode = static_cast<std::uint8_t>(between(0, 255));
            const OpcodeInfo& info = opcodeInfo(opcode);
            if (opcode == static_cast<std::uint8_t>(Opcode::native)) continue;
            if (!info.isValid() && chance(97)) continue;
            code.push_back(opcode);
            for (int i = 0; i < info.operandCount; ++i) {
                const std::int32_t value = operand(info.operands[i], image, size);
                for (int b = 0; b < operandSize(info.operands[i]); ++b)
                    code.push_back(
                        static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) >> (8 * b)));
            }
        }
        return code;
    }

    std::mt19937 random;
};

// Runs one image; false, with a message on standard error, when the machine is left in a
// state it must never reach.
bool runAndCheck(const Image& image) {
    VirtualMachine vm;
    RecordingServices services;
    vm.setInstructionBudget(1000);
    runImage(vm, services, writeImage(image));
    if (vm.sp < -1 || vm.sp >= VirtualMachine::kStackSlots ||
        vm.handlerCount >= VirtualMachine::kHandlerRecords) {
        std::fprintf(stderr, "machine left with sp %d, handler count %d\n", vm.sp, vm.handlerCount);
        return false;
    }
    // The stacks a stopped call leaves behind must still be safe to scan.
    try {
        vm.collectWithStackScan();
    } catch (const ErrorHandlingException&) {
    }
    clearLastError();
    return true;
}

std::string readFile(int fd) {
    std::string text;
    char buffer[4096];
    lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    return text;
}

struct Verdict {
    std::vector<std::string> failures;
};

// Runs the images in child processes, many to a child, so that one that ends its child (a
// sanitizer report, a crash, an internal check) is reported as a failure and the run goes on
// with the next image. Bytecode may write any arena word, heap headers included: a heap it
// corrupted must end the application with the fatal error, never stop the process.
Verdict runIsolated(const std::vector<Image>& images) {
    Verdict verdict;
    int next = 0;
    while (next < static_cast<int>(images.size())) {
        int progress[2];
        if (pipe(progress) != 0) throw std::runtime_error("pipe");
        char errorPath[] = "/tmp/zentu-fuzz-XXXXXX";
        const int errors = mkstemp(errorPath);
        unlink(errorPath);
        std::fflush(nullptr);
        const pid_t child = fork();
        if (child == 0) {
            close(progress[0]);
            dup2(errors, 2);
            for (int i = next; i < static_cast<int>(images.size()); ++i) {
                if (write(progress[1], &i, sizeof i) != sizeof i || !runAndCheck(images[i]))
                    _exit(3);
            }
            _exit(0);
        }
        close(progress[1]);
        int last = next;
        for (int i; read(progress[0], &i, sizeof i) == sizeof i;) last = i;
        close(progress[0]);
        int status = 0;
        waitpid(child, &status, 0);
        const std::string output = readFile(errors);
        close(errors);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0) break;
        verdict.failures.push_back("image " + std::to_string(last) + ": " + output);
        next = last + 1;
    }
    return verdict;
}

void expectNoFailures(const std::vector<Image>& images) {
    const Verdict verdict = runIsolated(images);
    if (!verdict.failures.empty())
        ADD_FAILURE() << verdict.failures.size()
                      << " failures, the first: " << verdict.failures.front();
}

TEST(InterpreterFuzz, RandomImages) {
    ImageGenerator generator(20261206);
    std::vector<Image> images;
    for (int i = 0; i < 2000; ++i) images.push_back(generator.randomImage());
    expectNoFailures(images);
}

TEST(InterpreterFuzz, MutatedPrograms) {
    const std::string bodies[] = {
        "push_int 15\n call fib\n print",
        "push_handler Base, caught\n new_object 1, 1\n dup\n store_type Derived\n throw_object",
        "push_int 1\n push_int 0\n div",
        "push_int 6\n push_int 7\n new_array 2\n box\n push_field_addr_local -1, 1\n deref\n"
        "print\n new_object 6, 2\n new_vector 4",
    };
    const std::string methods = std::string("caught:\n deref\n print\n ret 0, 1\n") + kFibonacci;
    ImageGenerator generator(777);
    std::vector<Image> images;
    for (const std::string& body : bodies) {
        std::vector<AssemblyError> errors;
        const std::optional<Image> image = assembleImage(program(body, methods), "fuzz", errors);
        ASSERT_TRUE(image.has_value());
        for (int i = 0; i < 300; ++i) images.push_back(generator.mutated(*image));
    }
    expectNoFailures(images);
}

} // namespace
