#include "InterpreterHarness.h"
#include "NumericNatives.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using Log = std::vector<std::string>;

// What the prelude's internal throw and last resort log for an error that nothing catches.
Log uncaught(const std::string& text, TInt32 code) {
    return {text, std::to_string(code), "uncaught"};
}

struct ValueCase {
    const char* body; // leaves one int on top
    const char* expected;
};

void expectValues(std::initializer_list<ValueCase> cases) {
    for (const ValueCase& c : cases) {
        SCOPED_TRACE(c.body);
        const Outcome outcome = runProgram(program(std::string(c.body) + "\nprint"));
        EXPECT_EQ(outcome.ending, Outcome::Returned);
        EXPECT_EQ(outcome.log, Log{c.expected});
    }
}

struct ErrorCase {
    const char* body;
    const char* text;
    TInt32 code;
};

void expectErrors(std::initializer_list<ErrorCase> cases) {
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.body);
        const Outcome outcome = runProgram(program(c.body));
        EXPECT_EQ(outcome.ending, Outcome::Exit);
        EXPECT_EQ(outcome.log, uncaught(c.text, c.code));
    }
}

void expectFatal(std::initializer_list<const char*> bodies, const std::string& methods = "") {
    for (const char* body : bodies) {
        SCOPED_TRACE(body);
        EXPECT_EQ(runProgram(program(body, methods)).ending, Outcome::Fatal);
    }
}

TEST(Interpreter, IntegerArithmetic) {
    expectValues({
        {"push_int 2147483647\n push_int 1\n add", "-2147483648"},
        {"push_int -2147483648\n push_int 1\n sub", "2147483647"},
        {"push_int 65537\n push_int 65537\n mul", "131073"},
        {"push_int -7\n push_int 2\n div", "-3"},
        {"push_int -7\n push_int 2\n rem", "-1"},
        {"push_int 7\n push_int -2\n rem", "1"},
        {"push_int -2147483648\n push_int -1\n div", "-2147483648"},
        {"push_int -2147483648\n push_int -1\n rem", "0"},
        {"push_int -2147483648\n neg", "-2147483648"},
        {"push_int 12\n push_int 10\n band", "8"},
        {"push_int 12\n push_int 10\n bor", "14"},
        {"push_int 12\n push_int 10\n bxor", "6"},
    });
}

TEST(Interpreter, ShiftRule) {
    expectValues({
        {"push_int 1\n push_int 31\n shl", "-2147483648"},
        {"push_int 1\n push_int 32\n shl", "0"},
        {"push_int -8\n push_int -1\n shl", "-4"},
        {"push_int 5\n push_int -32\n shl", "0"},
        {"push_int -8\n push_int 1\n shr", "-4"},
        {"push_int -8\n push_int 40\n shr", "0"},
        {"push_int 3\n push_int -2\n shr", "12"},
        {"push_int -8\n push_int -2147483648\n shr", "0"},
        {"push_int -8\n push_int 40\n byte_shr", "-1"},
        {"push_int 8\n push_int 40\n byte_shr", "0"},
        {"push_int 0x181\n push_int 1\n byte_shl", "-254"},
        {"push_int 1\n push_int 0x103\n byte_shl", "8"},
        {"push_int 1\n push_int 0x120\n byte_shl", "0"},
    });
}

TEST(Interpreter, ByteAndCharArithmetic) {
    expectValues({
        {"push_int -128\n push_int -1\n byte_div", "128"},
        {"push_int 0x17F\n push_int 2\n byte_div", "63"},
        {"push_int -7\n push_int 2\n byte_rem", "-1"},
        {"push_int -128\n push_int -1\n byte_rem", "0"},
        {"push_int 0x7F\n push_int 0x80\n byte_lt", "0"},
        {"push_int 0x180\n push_int 0x80\n byte_eq", "-1"},
        {"push_int 0x101\n push_int 2\n byte_ge", "0"},
        {"push_int 0x7FFF\n push_int 0x8000\n char_gt", "-1"},
        {"push_int 0x10041\n push_int 0x41\n char_eq", "-1"},
        {"push_int 0xFFFF\n push_int 0\n char_lt", "-1"},
        {"push_int -1\n zero_extend_byte", "255"},
        {"push_int 0x1FF\n push_int 0x80\n sign_extend_bytes 2\n add", "-129"},
        {"push_int 0x1FF\n push_int 0x80\n sign_extend_bytes 1\n add", "383"},
    });
}

TEST(Interpreter, ComparisonsAndBooleans) {
    expectValues({
        {"push_int -3\n push_int 2\n lt", "-1"},
        {"push_int 2\n push_int 2\n le", "-1"},
        {"push_int 2\n push_int -3\n gt", "-1"},
        {"push_int 2\n push_int 3\n ge", "0"},
        {"push_int 2\n push_int 3\n eq", "0"},
        {"push_int 2\n push_int 3\n ne", "-1"},
        {"push_int 5\n push_int -1\n bool_eq", "1"},
        {"push_int 0\n push_int 3\n bool_eq", "0"},
        {"push_int 0\n push_int 3\n bool_ne", "1"},
        {"push_int 2\n push_int 4\n bool_and", "-1"},
        {"push_int 2\n push_int 0\n bool_and", "0"},
        {"push_int 0\n push_int 9\n bool_or", "-1"},
        {"push_int 7\n push_int 9\n bool_xor", "0"},
        {"push_int 1\n lnot", "0"},
        {"push_int 0\n lnot", "-1"},
    });
}

TEST(Interpreter, StackAndConstants) {
    expectValues({
        {"push_long 5, 7\n sub", "-2"},
        {"push_true", "-1"},
        {"push_minus_one", "-1"},
        {"push_false", "0"},
        {"push_int 9\n dup\n mul", "81"},
        {"push_int 1\n push_int 2\n push_int 3\n push_int 4\n adjust_stack -3", "1"},
        {"push_int 1\n adjust_stack 2\n add\n add", "1"},
        {"push_int 4\n push_int 5\n push_local -2\n add\n add", "13"},
        {"push_int 4\n push_int 5\n push_local_w -2\n add\n add", "13"},
        {"push_int 4\n push_local_addr -1\n deref", "4"},
        {"push_int 4\n push_local_addr_w -1\n deref", "4"},
        {"push_int 0\n throw_object", "0"}, // a null throw continues
    });
}

// A cell on the stack: the slot holding A is changed by OP with value B, then printed.
TEST(Interpreter, CellOperations) {
    expectValues({
        {"push_int 10\n push_local_addr -1\n push_int 3\n add_cell", "13"},
        {"push_int 10\n push_local_addr -1\n push_int 3\n sub_cell", "7"},
        {"push_int -3\n push_local_addr -1\n push_int 5\n mul_cell", "-15"},
        {"push_int -2147483648\n push_local_addr -1\n push_int -1\n div_cell", "-2147483648"},
        {"push_int -2147483648\n push_local_addr -1\n push_int -1\n rem_cell", "0"},
        {"push_int 12\n push_local_addr -1\n push_int 10\n and_cell", "8"},
        {"push_int 12\n push_local_addr -1\n push_int 10\n or_cell", "14"},
        {"push_int 12\n push_local_addr -1\n push_int 10\n xor_cell", "6"},
        {"push_int 1\n push_local_addr -1\n push_int 32\n shl_cell", "0"},
        {"push_int -8\n push_local_addr -1\n push_int 40\n shr_cell", "0"},
        {"push_int -8\n push_local_addr -1\n push_int -1\n shr_cell", "-16"},
        {"push_int 7\n push_local_addr -1\n inc_cell", "8"},
        {"push_int 7\n push_local_addr -1\n dec_cell", "6"},
        {"push_int 7\n push_local_addr -1\n push_int 42\n store", "42"},
        {"push_int 7\n push_local_addr -1\n push_int 42\n store_alt", "42"},
        {"push_int 7\n push_local_addr -1\n store_zero", "0"},
        {"push_int 7\n push_local_addr -1\n store_type 77", "78"}, // + the type base
    });
}

// Byte and char cells change only their low 8 or 16 bits.
TEST(Interpreter, ByteAndCharCells) {
    expectValues({
        {"push_int 0x12345678\n push_local_addr -1\n push_int 0x1FF\n byte_store", "305420031"},
        {"push_int 0x12345678\n push_local_addr -1\n byte_store_zero", "305419776"},
        {"push_int 0x123456FF\n push_local_addr -1\n byte_inc_cell", "305419776"},
        {"push_int 0x12345600\n push_local_addr -1\n byte_dec_cell", "305420031"},
        {"push_int 0x178\n push_local_addr -1\n push_int 0x90\n byte_add_cell", "264"},
        {"push_int 0x105\n push_local_addr -1\n push_int 7\n byte_sub_cell", "510"},
        {"push_int 0x110\n push_local_addr -1\n push_int 0x11\n byte_mul_cell", "272"},
        {"push_int 0x180\n push_local_addr -1\n push_int -1\n byte_div_cell", "384"},
        {"push_int 0x1F9\n push_local_addr -1\n push_int 4\n byte_rem_cell", "509"},
        {"push_int 0xF0\n push_local_addr -1\n push_int 0x3C\n byte_and_cell", "48"},
        {"push_int 0xF0\n push_local_addr -1\n push_int 0x3C\n byte_or_cell", "252"},
        {"push_int 0xF0\n push_local_addr -1\n push_int 0x3C\n byte_xor_cell", "204"},
        {"push_int 0x103\n push_local_addr -1\n push_int 6\n byte_shl_cell", "448"},
        {"push_int 0x103\n push_local_addr -1\n push_int 9\n byte_shl_cell", "256"},
        {"push_int 0xF8\n push_local_addr -1\n push_int -1\n byte_shl_cell", "252"},
        {"push_int 0xF8\n push_local_addr -1\n push_int 2\n byte_shr_cell", "254"},
        {"push_int 0xF8\n push_local_addr -1\n push_int 20\n byte_shr_cell", "255"},
        {"push_int 0x12345678\n push_local_addr -1\n push_int 0xABCDE\n char_store", "305446110"},
        {"push_int 0x12345678\n push_local_addr -1\n char_store_zero", "305397760"},
    });
}

TEST(Interpreter, ObjectsAndDereferences) {
    expectValues({
        {"new_object 2, 2\n dup\n field_addr 1\n push_int 99\n store\n field_addr 1\n deref", "99"},
        {"new_object 2, 2\n dup\n field_addr_w 1\n push_int 99\n store\n push_deref_local -1", "0"},
        {"push_int 5\n box\n box\n deref2", "5"},
        {"push_int 5\n wrap\n box\n box\n deref3", "5"},
        {"push_int 5\n box\n push_deref_local -1", "5"},
        {"push_int 5\n box\n box\n push_deref2_local -1", "5"},
        {"push_int 5\n box\n box\n box\n push_deref3_local -1", "5"},
        // field 1 of an object held in a box, then of one held in two and three boxes
        {"push_int 6\n push_int 7\n new_array 2\n box\n push_field_addr_local -1, 1\n deref", "7"},
        {"push_int 6\n push_int 7\n new_array 2\n box\n box\n push_field_addr2_local -1, 1\n deref",
         "7"},
        {"push_int 6\n push_int 7\n new_array 2\n box\n box\n box\n"
         "push_field_addr3_local -1, 1\n deref",
         "7"},
        // new_array puts the deepest value in word 0; unpack restores the order
        {"push_int 1\n push_int 2\n push_int 3\n new_array 3\n unpack 3\n sub\n sub", "2"},
        {"push_int 1\n push_int 2\n push_int 3\n new_array_w 3\n unpack_w 3\n sub\n sub", "2"},
        {"push_int 7\n new_array 0\n unpack 0", "7"},
        {"push_int 7\n push_int 0\n unpack 0", "7"},
        {"new_object 2, 2\n dup\n push_int 4\n push_int 5\n pack_into 2\n unpack 2\n sub", "-1"},
        {"new_object 2, 2\n dup\n push_int 4\n push_int 5\n pack_into_w 2\n unpack_w 2\n sub",
         "-1"},
        {"push_int 8\n push_int 9\n new_array 2\n new_object 2, 2\n dup\n push_local -3\n"
         "copy_words 2\n unpack 2\n sub",
         "-1"},
        {"push_int 8\n push_int 9\n new_array 2\n new_object 2, 2\n dup\n push_local -3\n"
         "copy_words_w 1\n unpack 2\n add",
         "8"},
        {"push_int 8\n push_int 9\n new_array 2\n dup\n clear_words 1\n unpack 2\n add", "9"},
        {"push_int 8\n push_int 9\n new_array 2\n dup\n clear_words_w 2\n unpack 2\n add", "0"},
        // new_store writes the new reference, at level 1 through a box
        {"push_int 0\n push_local_addr -1\n new_store 2, 1, 0\n push_int 0\n ne", "-1"},
        {"push_int 0\n push_local_addr -1\n new_store_keep 2, 1, 1\n deref\n deref\n deref", "0"},
    });
}

TEST(Interpreter, StringsAndVectorHolders) {
    EXPECT_EQ(runProgram(program("push_string \"abc\"\n native 30, 1\n push_int -42\n"
                                 "int_to_string\n native 30, 1"))
                  .log,
              (Log{"abc", "-42"}));
    // A pushed constant shares its buffer, which a change in place copies first.
    EXPECT_EQ(runProgram(program("push_string \"ab\"\n dup\n push_int 120\n native 8, 63\n"
                                 "native 30, 1\n push_string \"ab\"\n native 30, 1"))
                  .log,
              (Log{"abx", "ab"}));
    // The holder gets the element size in word 1 and an empty vector object in word 0.
    expectValues({
        {"new_object 6, 2\n dup\n new_vector 12\n field_addr 1\n deref", "12"},
        {"new_object 6, 2\n dup\n new_vector 4\n deref\n field_addr 3\n deref", "0"},
    });
}

TEST(Interpreter, ErrorsBecomeApplicationExceptions) {
    expectErrors({
        {"push_int 0\n deref", "NullPointerException: NULL pointer", 1},
        {"push_int 0\n field_addr 1", "NullPointerException: NULL pointer", 1},
        {"push_int 0\n push_int 5\n store", "NullPointerException: NULL pointer", 1},
        {"push_int 0\n box\n push_deref2_local -1", "NullPointerException: NULL pointer", 1},
        {"push_int 0\n box\n push_field_addr_local -1, 1", "NullPointerException: NULL pointer", 1},
        {"push_int 0\n new_store 2, 1, 0", "NullPointerException: NULL pointer", 1},
        {"push_int 0\n new_store_keep 2, 1, 0", "NullPointerException: NULL pointer", 1},
        {"push_int 0\n unpack 2", "NullPointerException: NULL pointer", 1},
        {"push_int 0\n new_vector 4", "NullPointerException: NULL pointer", 1},
        {"push_int 1\n push_int 0\n div", "DivisionByZeroException", 3},
        {"push_int 1\n push_int 0\n rem", "DivisionByZeroException", 3},
        {"push_int 1\n push_local_addr -1\n push_int 0\n div_cell", "DivisionByZeroException", 3},
        {"push_int 1\n push_int 0\n byte_div", "DivisionByZeroException: Division by zero.", 3},
        // a divisor whose low byte is 0 divides by zero too
        {"push_int 1\n push_int 0x100\n byte_rem", "DivisionByZeroException: Division by zero.", 3},
        {"push_int 1\n push_local_addr -1\n push_int 0x200\n byte_div_cell",
         "DivisionByZeroException: Division by zero.", 3},
        {"push_string 1000", "InvalidArgumentException", 6},
        // call_virtual 1000, hidden in push_long's operands from the loader's check
        {".bytes 0x0C, 0x02, 0x00\n push_long 0x0003E80F, 0", "InvalidArgumentException", 6},
        {"call main, 1000", "InvalidArgumentException", 6},
    });
}

TEST(Interpreter, FatalErrors) {
    expectFatal({
        ".bytes 0x38", ".bytes 0xFF", "new_object 0, 1", "new_object 8, 1", "new_object 18, 1",
        "push_int 0\n push_local_addr -1\n new_store 8, 1, 0", "new_object 6, 2\n new_vector 3",
        "native 0, 1", "native 36, 1", "native -1, 1",
        "jump_w 100000",           // outside the code
        ".bytes 0x0C, 0xFF, 0xFF", // lands on its own first operand byte, 0xFF
    });
    // Falling off the end of the code, also in the middle of an instruction's operands.
    EXPECT_EQ(runProgram(std::string(kProgramPrelude) + "main:\n nop").ending, Outcome::Fatal);
    EXPECT_EQ(runProgram(std::string(kProgramPrelude) +
                         "main:\n .bytes 0x0C, 0x05, 0x00\n push_int 0x14000000")
                  .ending,
              Outcome::Fatal);
}

TEST(Interpreter, Jumps) {
    expectValues({
        // offset 2 lands on the first operand byte of push_int: 0x3A, push_true, then nops
        {".bytes 0x0C, 0x02, 0x00\n push_int 0x3A", "-1"},
        {".bytes 0x0C, 0x00, 0x00\n push_int 3", "3"}, // lands on its own last byte, a nop
        {"push_int 7\n push_int 1\n jump_if_false skip\n skip:", "7"},
        {"push_int 7\n push_int 0\n jump_if_false skip\n skip:", "7"},
        {"push_int 7\n push_int 0\n jump_if_false_w skip\n push_int 1\n skip:", "7"},
        {"push_int 7\n jump_w skip\n push_int 1\n skip:", "7"},
    });
    // A negative target ends the call like the entry method's return.
    const Outcome outcome = runProgram(program("jump_w -100000\n push_int 1\n print"));
    EXPECT_EQ(outcome.ending, Outcome::Returned);
    EXPECT_TRUE(outcome.log.empty());
}

TEST(Interpreter, StaticCallsAndReturns) {
    EXPECT_EQ(runProgram(program("push_int 15\n call fib\n print", kFibonacci)).log, Log{"610"});
    // A return with no active call raises code 6.
    EXPECT_EQ(runProgram(program("call helper, -1\n ret 0, 1", "helper:\n ret 0, 0")).log,
              uncaught("InvalidArgumentException", 6));
}

TEST(Interpreter, FrameBasesOfCalls) {
    std::vector<std::pair<int, int>> seen; // frame base, sp
    auto hook = [&](VirtualMachine& vm, int, int) {
        seen.emplace_back(vm.frameStack.last(), vm.sp);
        return vm.sp;
    };
    runProgram(program("push_int 1\n push_int 2\n call two_args\n adjust_stack -1\n"
                       "call no_record, -1\n push_int 3\n push_int 4\n call two_args\n"
                       "adjust_stack -1",
                       ".method two_args args=2\n two_args:\n extension 0, 0\n ret 0, 2\n"
                       "no_record:\n extension 0, 0\n ret 0, 1"),
               hook);
    // sp is the return-address slot in each; the base lies args slots below it.
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].first, seen[0].second - 2);
    EXPECT_EQ(seen[1].first, seen[1].second);
    EXPECT_EQ(seen[2].first, seen[2].second - 2);
}

const char* const kDescribe = R"(
.virtual describe "describe"
.entry type=Base code=describe_base method=describe
.entry type=Derived code=describe_derived method=describe
.method describe args=1
describe_base:                  ; receiver, return address
    push_int 1
    print
    ret 0, 2
describe_derived:
    push_int 2
    print
    ret 0, 2
)";

// Pushes an instance of the type, then its type id, and calls describe on it.
std::string callDescribe(const char* type) {
    return std::string("new_object 1, 1\n dup\n store_type ") + type +
           "\n dup\n deref\n call_virtual describe\n";
}

TEST(Interpreter, VirtualCallsMatchTheExactType) {
    EXPECT_EQ(runProgram(program(callDescribe("Derived") + callDescribe("Base"), kDescribe)).log,
              (Log{"2", "1"}));
    // Other has no entry; neither has a subclass of a type that has one.
    const std::string subclass = ".type Sub super=Base\n";
    for (const std::string& body : {callDescribe("Other"), callDescribe("Sub")}) {
        const Outcome outcome = runProgram(program(body, subclass + kDescribe));
        EXPECT_EQ(outcome.ending, Outcome::Fatal);
        EXPECT_TRUE(outcome.log.empty());
    }
}

// Throws a new instance of the type.
std::string throwNew(const char* type) {
    return std::string("new_object 1, 1\n dup\n store_type ") + type + "\n throw_object\n";
}

TEST(Interpreter, HandlersCatchByClassAndSuperClass) {
    const char* const caught = "caught:\n deref\n print\n ret 0, 1\n"; // logs the type id
    EXPECT_EQ(
        runProgram(program("push_handler Derived, caught\n" + throwNew("Derived"), caught)).log,
        Log{"3"});
    EXPECT_EQ(runProgram(program("push_handler Base, caught\n" + throwNew("Derived"), caught)).log,
              Log{"3"});
    EXPECT_EQ(runProgram(program("push_handler -1, caught\n" + throwNew("Other"), caught)).log,
              Log{"4"});
    // A subclass handler does not catch its super class; a handler of another class neither.
    EXPECT_EQ(runProgram(program("push_handler Derived, caught\n" + throwNew("Base"), caught)).log,
              Log{"uncaught"});
    EXPECT_EQ(runProgram(program("push_handler Other, caught\n" + throwNew("Derived"), caught)).log,
              Log{"uncaught"});
}

TEST(Interpreter, NestedHandlersAndErrorsInsideHandlers) {
    // The inner handler does not match; the outer one catches and consumes both records.
    EXPECT_EQ(runProgram(program("push_handler Base, outer\n push_handler Other, inner\n" +
                                     throwNew("Derived"),
                                 "inner:\n adjust_stack -1\n push_int 1\n print\n ret 0, 1\n"
                                 "outer:\n push_int 2\n print\n" +
                                     throwNew("Base")))
                  .log,
              (Log{"2", "uncaught"}));
    // A division by zero inside a handler reaches the next handler out as a Failure.
    EXPECT_EQ(runProgram(program("push_handler Failure, outer\n push_handler Base, inner\n" +
                                     throwNew("Derived"),
                                 "inner:\n push_int 1\n push_int 0\n div\n"
                                 "outer:\n field_addr 1\n deref\n print\n ret 0, 1\n"))
                  .log,
              (Log{"DivisionByZeroException", "3", "3"}));
    // Closing a region drops its handler.
    EXPECT_EQ(
        runProgram(program("push_handler -1, caught\n adjust_handlers -1\n" + throwNew("Base"),
                           "caught:\n ret 0, 1\n"))
            .log,
        Log{"uncaught"});
}

TEST(Interpreter, CatchUnwindsTheCallStacks) {
    std::vector<int> depths;
    auto hook = [&](VirtualMachine& vm, int, int) {
        depths.push_back(vm.methodStack.size());
        depths.push_back(vm.frameStack.size());
        return vm.sp;
    };
    const Outcome outcome =
        runProgram(program("call guarded, -1\n extension 0, 0\n push_int 5\n print",
                           "guarded:\n push_handler -1, caught\n call deeper, -1\n"
                           "caught:\n extension 0, 0\n adjust_stack -1\n ret 0, 1\n"
                           "deeper:\n call deepest, -1\n"
                           "deepest:\n" +
                               throwNew("Base")),
                   hook);
    EXPECT_EQ(outcome.ending, Outcome::Returned);
    EXPECT_EQ(outcome.log, Log{"5"});
    EXPECT_EQ(depths, (std::vector<int>{2, 2, 1, 1}));
}

TEST(Interpreter, AnInternalThrowThatReturnsEndsTheCallWithTheFatalError) {
    // Resuming after the failing instruction would leave its work undone.
    const std::string source = R"(
.exports
.export "main" code=main method=main
.export "vminternalthrow<int>,<*string>" code=internal_throw method=internal_throw
.methods
.method main
.method internal_throw args=2
.code
internal_throw:
    push_local -2
    native 30, 1
    ret 0, 3
main:
    push_int 9
    push_int 0
    deref
    print
    print
    push_int -1
    ret 0, 0
)";
    const Outcome outcome = runProgram(expandPrint(source));
    EXPECT_EQ(outcome.ending, Outcome::Fatal);
    EXPECT_EQ(outcome.log, Log{"NullPointerException: NULL pointer"});
    EXPECT_EQ(outcome.explanation,
              "vminternalthrow<int>,<string> returned instead of throwing the error\n"
              "  vminternalthrow_int_string: ret ; 0005\n"
              "  main: deref ; 0018");
}

TEST(Interpreter, ExtensionCalls) {
    auto hook = [](VirtualMachine& vm, int extension, int function) {
        vm.setSlot(vm.sp, extension * 100 + function);
        return vm.sp;
    };
    EXPECT_EQ(runProgram(program("push_int 0\n extension 3, -4\n print"), hook).log, Log{"296"});
    // An extension that leaves sp outside the stack stops the call.
    auto broken = [](VirtualMachine&, int, int) { return VirtualMachine::kStackSlots; };
    EXPECT_EQ(runProgram(program("extension 1, 1"), broken).ending, Outcome::Fatal);

    // Without host services the call raises code 13.
    const std::string source = R"(
.exports
.export "main" code=main method=main
.export "vminternalthrow<int>,<*string>" code=internal_throw method=internal_throw
.methods
.method main
.method internal_throw args=2
.code
internal_throw:                 ; makes the error code the application object
    push_local -3
    wrap
    native 32, 5
    jump_w -100000
main:
    extension 1, 2
)";
    VirtualMachine vm;
    ZARNOK::MemoryInputStream stream;
    const std::vector<std::uint8_t> bytes = assembleOrThrow(source);
    stream.setBuffer(bytes.data(), static_cast<TUint32>(bytes.size()));
    vm.load(stream, "index.mcb", nullptr);
    ASSERT_NE(vm.applicationObject(), 0u);
    EXPECT_EQ(vm.arena().word(vm.applicationObject()), 13u);
}

// A call that ends with the exit or the fatal signal leaves no handler behind, whatever its
// handlers were: none of them may catch in a later call.
TEST(Interpreter, SignalsLeaveTheMachineIdleWithoutTheCallsHandlers) {
    for (const char* handlers :
         {"push_handler -1, end\n push_handler -1, end", "adjust_handlers -93"}) {
        for (const auto& [ending, outcome] :
             {std::pair{".bytes 0xFF", Outcome::Fatal}, std::pair{"native 32, 1", Outcome::Exit}}) {
            SCOPED_TRACE(std::string(handlers) + " / " + ending);
            VirtualMachine vm;
            RecordingServices services;
            const std::string body = std::string(handlers) + "\n " + ending + "\nend:";
            EXPECT_EQ(runImage(vm, services, assembleOrThrow(program(body))).ending, outcome);
            EXPECT_FALSE(vm.isRunning());
            EXPECT_EQ(vm.handlerCount, 0);
        }
    }
}

TEST(Interpreter, StackOverflowAndUnderflowStopTheCall) {
    const char* const recursion = R"(
.method count args=1
count:                          ; n, return address
    push_local -2
    jump_if_false done
    push_local -2
    push_int 1
    sub
    call count
    adjust_stack -1
done:
    ret 0, 1
)";
    expectFatal({"push_int 1000000\n call count"}, recursion);
    expectFatal({"call forever, -1"}, "forever:\n call forever, -1");
    // Calls that pop their return address still end: the call depth is bounded.
    expectFatal({"call forever, -1"}, "forever:\n adjust_stack -1\n call forever, -1");
    expectFatal({"loop:\n push_int 1\n jump loop", "loop:\n adjust_stack 100\n jump loop",
                 "loop:\n push_int 1\n push_int 2\n new_array 2\n unpack 100\n jump loop",
                 "adjust_stack -1\n add", "adjust_stack -2", "ret 0, 2", "adjust_stack -1\n dup",
                 "push_int 1\n pack_into 3"});
    // The machine stays usable after a stopped call: the deepest recursion that fits runs.
    EXPECT_EQ(
        runProgram(
            program("push_int 5000\n call count\n adjust_stack -1\n push_int 1\n print", recursion))
            .log,
        Log{"1"});
}

TEST(Interpreter, HandlerStackOverflowStopsTheCall) {
    expectFatal(
        {"loop:\n push_handler -1, loop\n jump loop", "adjust_handlers 127\n adjust_handlers 1"});
    // 127 handlers fit.
    std::string body;
    for (int i = 0; i < 127; ++i) body += "push_handler -1, caught\n";
    EXPECT_EQ(runProgram(program(body + throwNew("Base"),
                                 "caught:\n adjust_stack -1\n push_int 1\n print\n ret 0, 1"))
                  .log,
              Log{"1"});
}

// The same instructions with a nop after each, which no fused sequence matches.
std::string unfused(const std::string& body) {
    std::istringstream in(body);
    std::string line, out;
    while (std::getline(in, line)) {
        out += line + "\n";
        if (line.find(':') == std::string::npos && line.find_first_not_of(" ") != std::string::npos)
            out += "    nop\n";
    }
    return out;
}

// Each body, run as it is and with its sequences broken up, must log the same values, the
// slots above the top as it left them, errors and end the same way with the same stack. Some
// bodies never end: the budget stops both alike.
void expectLikeTheirInstructions(const std::vector<std::string>& bodies) {
    const std::string deadSlots = "\n push_local 0\n print\n push_local 1\n print\n"
                                  "push_local 2\n print\n";
    const auto expectSameRun = [](const Outcome& run, const Outcome& plain) {
        EXPECT_EQ(run.ending, plain.ending);
        EXPECT_EQ(run.errorCode, plain.errorCode);
        EXPECT_EQ(run.log, plain.log);
        EXPECT_EQ(run.sp, plain.sp);
    };
    for (const std::string& body : bodies) {
        SCOPED_TRACE(body);
        const Outcome fused = runProgram(program(body + deadSlots), {}, 5000);
        const Outcome plain = runProgram(program(unfused(body) + deadSlots), {}, 5000);
        if (fused.budgetSpent && plain.budgetSpent) {
            // A fused sequence is one dispatch and the broken-up body has its nops too, so the
            // fused run gets further on the same budget.
            EXPECT_EQ(fused.ending, plain.ending);
            EXPECT_EQ(fused.errorCode, plain.errorCode);
            ASSERT_LE(plain.log.size(), fused.log.size());
            EXPECT_TRUE(std::equal(plain.log.begin(), plain.log.end(), fused.log.begin()));
            continue;
        }
        expectSameRun(fused, plain);
        // Without a budget the loop counts nothing, and some sequences run other code then.
        expectSameRun(runProgram(program(body + deadSlots)), plain);
    }
}

// Sequences with handlers of their own must leave everything as their instructions do,
// including the slots above the top, which the program prints at the end.
TEST(Interpreter, FusedSequencesBehaveLikeTheirInstructions) {
    std::vector<std::string> bodies;
    for (const char* relation : {"eq", "ne", "lt", "le", "gt", "ge"}) {
        const std::string r = relation;
        for (const char* limit : {"6", "7", "8"}) {
            const std::string k = limit;
            bodies.push_back("push_int 7\n push_local -1\n push_int " + k + "\n" + r +
                             "\n jump_if_false skip\n push_int 1\n print\nskip:");
            bodies.push_back("push_int 7\n push_int " + k + "\n push_local -2\n push_local -2\n" +
                             r + "\n jump_if_false skip\n push_int 1\n print\nskip:");
            // counting loops, up and down, and the accumulation x += i at their bottom
            bodies.push_back(
                "push_int 0\n push_int 0\nloop:\n push_local_addr -2\n push_local -2\n"
                "add_cell\n push_local_addr -1\n inc_cell\n push_local -1\n push_int " +
                k + "\n" + r + "\n jump_if_false loop\n print\n print");
            bodies.push_back("push_int 9\nloop:\n push_local_addr -1\n dec_cell\n push_local -1\n"
                             "push_int " +
                             k + "\n" + r + "\n jump_if_false loop\n print");
        }
    }
    for (const char* body : {
             // the pushed slot itself as an operand or a cell
             "push_int 7\n push_local -1\n push_local -1\n lt\n jump_if_false skip\nskip:",
             "push_int 7\n push_local 0\n push_local -1\n add\n print",
             "push_int 3\n push_local_addr 0\n push_local -1\n add_cell",
             "push_int 3\n push_local_addr 0\n inc_cell",
             "push_int 3\n push_local_addr 1\n dec_cell",
             "push_int 3\n push_int 4\n push_local_addr -2\n push_local -2\n add_cell\n print\n"
             "print",
             "push_int 7\n push_local -1\n push_int 5\n sub\n push_local -2\n push_int -9\n add\n"
             "print\n print",
             "push_int 7\n push_int 8\n push_local -1\n push_local -3\n sub\n print",
             // a local copied into another, into itself, and into the address slot it pushed
             "push_int 3\n push_int 4\n push_local_addr -2\n push_local -2\n store\n print\n print",
             "push_int 3\n push_local_addr -1\n push_local -2\n store\n print",
             "push_int 3\n push_local_addr 0\n push_local -1\n store\n print",
             "push_int 3\n push_local_addr -1\n push_local 0\n store\n print",
             "adjust_stack_w 15253\n push_local_addr -1\n push_local -2\n store",
             "adjust_stack_w 15254\n push_local_addr -1\n push_local -2\n store",
             // a counter that counts itself, and one that is also the sum
             "push_int 0\nloop:\n push_local_addr -1\n push_local -1\n add_cell\n"
             "push_local_addr -1\n inc_cell\n push_local -1\n push_int 50\n lt\n"
             "jump_if_false loop\n print",
             "push_int 1\n push_int 0\nloop:\n push_local_addr -2\n push_local -3\n add_cell\n"
             "push_local_addr -1\n inc_cell\n push_local -1\n push_int 5\n ge\n"
             "jump_if_false loop\n print\n print",
             "push_int 0\nloop:\n push_local_addr -1\n inc_cell\n push_local -1\n push_int 5\n"
             "ge\n jump_if_false done\n jump loop\ndone:\n push_local_addr -1\n dec_cell\n"
             "jump end\nend:\n print",
             // branches out of the code, which only the plain jump may check
             "push_int 7\n push_local -1\n push_int 8\n ge\n jump_if_false 30000",
             "push_int 7\n push_local -1\n push_local -2\n eq\n jump_if_false -3000",
             "push_int 0\n push_local_addr -1\n inc_cell\n jump 20000",
             "push_int 0\n push_local_addr -1\n dec_cell\n push_local -1\n push_int 5\n lt\n"
             "jump_if_false -100",
             "call 100000, -1",
             "call -5, -1",
             // a = b + k and a = b - k, with the pushed address as b, and without room
             "push_int 0\n push_int 7\n push_local_addr -2\n push_local -2\n push_int 3\n add\n"
             "store\n print\n print",
             "push_int 7\n push_local_addr -1\n push_local -1\n push_int -3\n sub\n print\n print",
             "adjust_stack_w 15253\n push_local_addr -1\n push_local -2\n push_int 1\n sub",
             "adjust_stack_w 15252\n push_local_addr -1\n push_local -2\n push_int 1\n add\n print",
             // f(n - 1) and a = f(n + 1): the argument, then the call (the slots above the top
             // are cleared, as they hold a return address that the nops move)
             "push_int 5\n push_local -1\n push_int 1\n sub\n call callee, -1\n print\n print\n"
             "jump done\ncallee:\n ret 0, 1\ndone:\n adjust_stack 3\n adjust_stack -3",
             "push_int 0\n push_int 5\n push_local_addr -2\n push_local -2\n push_int 1\n add\n"
             "call callee, -1\n store\n print\n print\n jump done\ncallee:\n ret 0, 1\ndone:\n"
             "adjust_stack 3\n adjust_stack -3",
             "adjust_stack_w 15252\n push_local -1\n push_int 1\n sub\n call callee, -1\n"
             "callee:\n ret 0, 1",
             "adjust_stack_w 15253\n push_local -1\n push_int 1\n add\n call callee, -1\n"
             "callee:\n ret 0, 1",
             "adjust_stack_w 15252\n push_local_addr -1\n push_local -1\n push_int 1\n sub\n"
             "call callee, -1\ncallee:\n ret 0, 1",
             // the end of a method with locals, and its faults
             "push_int 4\n adjust_stack -1\n ret 0, 1",
             "push_int 4\n adjust_stack 1\n ret 0, 3",
             "adjust_stack -2\n ret 0, 1",
             "adjust_stack_w 15255\n adjust_stack 1\n ret 0, 1",
         })
        bodies.push_back(body);
    expectLikeTheirInstructions(bodies);
}

// The fused forms of an operation on two locals, a constant, and a store of the result, with
// their failures: a zero divisor, a null cell, and a stack too full for the pushes (the stack
// is filled up to a few slots below its top first, so the fault comes in the middle of the
// sequence).
TEST(Interpreter, OperandFusionsBehaveLikeTheirInstructions) {
    const std::vector<std::pair<std::string, std::string>> operands = {
        {"7", "3"},  {"-8", "2"},  {"5", "0"}, {"2147483647", "-1"}, {"-2147483648", "-1"},
        {"1", "33"}, {"-1", "-3"}, {"0", "0"},
    };
    std::vector<std::string> bodies;
    for (const char* op :
         {"add", "sub", "mul", "band", "bor", "bxor", "shl", "shr", "div", "rem"}) {
        const std::string o = std::string("\n ") + op + "\n";
        for (const auto& [a, b] : operands) {
            const std::string ab = "push_int " + a + "\n push_int " + b + "\n";
            bodies.push_back(ab + "push_local -2\n push_local -2" + o + "print\n print\n print");
            bodies.push_back(ab + "push_local -1\n push_local -1" + o + "print\n print\n print");
            bodies.push_back(ab +
                             "push_int 0\n push_local_addr -1\n push_local -4\n push_local -4" + o +
                             "store\n print\n print\n print");
            bodies.push_back("push_int " + a + "\n nop\n push_int " + b + o + "print");
            bodies.push_back("push_int 0\n push_local_addr -1\n push_int " + a +
                             "\n nop\n push_int " + b + o + "store\n print");
            bodies.push_back("push_int 0\n push_local_addr -1\n push_int " + a +
                             "\n nop\n push_int " + b + "\n push_local -1" + o +
                             "store\n print\n print");
            // the cell is null
            bodies.push_back("push_int 0\n push_int " + a + "\n nop\n push_int " + b + o + "store");
            bodies.push_back("push_int 0\n push_int " + a + "\n push_int " + b + "\n nop" + o +
                             "store");
        }
        // no room for the pushes: 15256 slots, the return address in slot 0
        for (const char* fill : {"15252", "15253", "15254"}) {
            const std::string full = "adjust_stack_w " + std::string(fill) + "\n";
            bodies.push_back(full + "push_local -2\n push_local -2" + o + "print");
            bodies.push_back(full + "push_local_addr -1\n push_local -4\n push_local -4" + o +
                             "store");
            bodies.push_back(full + "push_int 3" + o + "print");
            bodies.push_back(full + "push_local_addr -1\n push_int 5\n nop\n push_int 3" + o +
                             "store");
        }
    }
    // field reads and the initialisation of a field from a local, with null objects and a
    // field address that wraps around to null
    for (const char* object : {"0", "-8", "70000"}) {
        const std::string o = object;
        bodies.push_back("push_int " + o + "\n push_local -1\n field_addr 2\n deref\n print");
        bodies.push_back("push_int " + o + "\n push_local -1\n field_addr 2\n print");
        bodies.push_back("push_int 5\n push_int " + o +
                         "\n dup\n field_addr 2\n push_local -3\n"
                         "store\n print\n print");
    }
    bodies.push_back("new_object 1, 3\n push_int 9\n push_local -2\n dup\n field_addr 1\n"
                     "push_local -3\n store\n field_addr 1\n deref\n print\n push_local -2\n"
                     "field_addr 1\n deref\n print");
    bodies.push_back("adjust_stack_w 15254\n push_int 70000\n dup\n field_addr 1\n push_local -3\n"
                     "store");
    expectLikeTheirInstructions(bodies);
}

// The Fixed natives that the loop runs itself leave the slots and the cell as the call
// through the group does, also when b is a constant the push of which goes straight on to the
// native: the reference runs the group on a machine of its own.
TEST(Interpreter, InlineFixedNativesBehaveLikeTheNativeCall) {
    const TInt64 values[] = {0,  TInt64(1) << 32,    -(TInt64(3) << 31), INT64_MAX, INT64_MIN,
                             -1, 0x123456789ABCDEF0, 0x180000000};
    const auto words = [](TInt64 v) {
        return "push_int " + std::to_string(TInt32(v)) + "\n push_int " +
               std::to_string(TInt32(v >> 32)) + "\n";
    };
    const auto constant = [](TInt64 v) {
        return "push_long " + std::to_string(TInt32(v)) + ", " + std::to_string(TInt32(v >> 32)) +
               "\n";
    };
    for (const TInt32 function : {7, 8, 9, 12, 13, 14}) {
        const bool into = function >= 12;
        for (const TInt64 a : values) {
            for (const TInt64 b : values) {
                for (const bool isConstant : {false, true}) {
                    SCOPED_TRACE(std::to_string(function) + ": " + std::to_string(a) + ", " +
                                 std::to_string(b) + (isConstant ? " constant" : ""));
                    // a in slots 1 and 2, then the cell's address for the in-place forms, then b
                    const std::string body = words(a) + (into ? "push_local_addr -2\n" : "") +
                                             (isConstant ? constant(b) : words(b)) + "native 11, " +
                                             std::to_string(function) + "\n print\n print";
                    VirtualMachine reference;
                    reference.sp = 0;
                    reference.setSlot(0, -1);
                    reference.push(TInt32(a));
                    reference.push(TInt32(a >> 32));
                    if (into) reference.push(TInt32(reference.slotAddress(1)));
                    reference.push(TInt32(b));
                    reference.push(TInt32(b >> 32));
                    fixedNative(reference, function);
                    EXPECT_EQ(reference.sp, 2);
                    EXPECT_EQ(runProgram(program(body)).log,
                              (Log{std::to_string(reference.slot(2)),
                                   std::to_string(reference.slot(1))}));
                }
            }
        }
    }
}

// A constant pushed for a Fixed native, and the address of a local pushed before it, end as
// their instructions do when the stack has no room for a push or too few slots for the native.
TEST(Interpreter, ChainedFixedConstantsFaultLikeTheirInstructions) {
    std::vector<std::string> bodies;
    for (const char* function : {"9", "14"}) {
        const std::string call = "push_long 0, 3\n native 11, " + std::string(function) + "\n";
        // 15256 slots, the return address in slot 0
        for (const char* fill : {"0", "1", "2", "15253", "15254", "15255"}) {
            const std::string filled = "adjust_stack_w " + std::string(fill) + "\n";
            bodies.push_back(filled + call + "print");
            bodies.push_back(filled + "push_local_addr -2\n" + call + "print");
        }
    }
    expectLikeTheirInstructions(bodies);
}

// Fixed constants applied one after another keep the value in a register: a run must leave
// the value, the cell it is packed into, the slots above the top and every fault as the
// instructions one at a time do. x is 3.0 in slots 1 and 2, y 0.5 in slots 3 and 4.
TEST(Interpreter, FixedRunsBehaveLikeTheirInstructions) {
    const std::string xy = "push_long 0, 3\n push_long 0x80000000, 0\n";
    const std::vector<std::string> valueSteps = {
        "push_long 0x80000000, 1\n native 11, 9\n", // * 1.5
        "push_long 0, -2\n native 11, 7\n",         // + -2.0
        "push_long 5, 0\n native 11, 8\n",          // - 5 / 2^32
        "push_long -1, 0x7FFFFFFF\n native 11, 9\n" // * the largest value: saturates
    };
    const std::vector<std::string> intoSteps = {
        "push_long 0x80000000, 1\n native 11, 14\n",
        "push_long 0, -2\n native 11, 12\n",
        "push_long 5, 0\n native 11, 13\n",
    };
    std::vector<std::string> runs;
    for (const std::string& a : valueSteps)
        for (const std::string& b : valueSteps) runs.push_back(a + b);
    std::vector<std::string> bodies;
    for (const std::string& run : runs) {
        // x = x op k1 op k2 into x, into y, into a cell that overlaps the value's slots (the
        // slot below them, each of them, the slot above), and into null; slot 8 is the
        // second word of a cell at slot 7
        for (const char* address : {"-4", "-2", "0", "1", "2", "3"})
            bodies.push_back(xy + "push_local_addr " + address +
                             "\n push_local -5\n push_local -5\n" + run +
                             "pack_into 2\n push_local 3\n print\n print\n print\n print\n print");
        // a local updated through its own address (x = x op k1 op k2): x, the top slot, the
        // pushed address itself, the slot above it
        for (const auto& [address, word] :
             {std::pair{"-4", "-5"}, {"-1", "-2"}, {"0", "-1"}, {"1", "0"}})
            bodies.push_back(xy + "push_local_addr " + address + "\n push_local " + word +
                             "\n push_local " + word + "\n" + run + "pack_into 2\n print\n print");
        bodies.push_back(xy + "push_int 0\n push_local -5\n push_local -5\n" + run + "pack_into 2");
        bodies.push_back(xy + "push_local -4\n push_local -4\n" + run + "print\n print");
        // one word of x and one of y, and the pushed slot itself
        bodies.push_back(xy + "push_local -3\n push_local -3\n" + run + "print\n print");
        bodies.push_back(xy + "push_local -1\n push_local -1\n" + run + "print\n print");
        bodies.push_back(xy + run + "print\n print");
    }
    for (const std::string& a : intoSteps) {
        for (const std::string& b : intoSteps) {
            // x op= k1; x op= k2, the same on y, and a run that changes x and then y
            for (const char* local : {"-4", "-2"})
                bodies.push_back(xy + "push_local_addr " + local + "\n" + a + "push_local_addr " +
                                 local + "\n" + b + "print\n print\n print\n print");
            bodies.push_back(xy + "push_local_addr -4\n" + a + "push_local_addr -2\n" + b +
                             "print\n print\n print\n print");
            // a local that is not below the top: the top slot, the pushed address
            for (const char* local : {"-1", "0"})
                bodies.push_back(xy + "push_local_addr " + local + "\n" + a + "print\n print");
        }
    }
    // too few slots below, and too little room above, for a run or its start
    for (const char* fill : {"0", "1", "2", "15248", "15249", "15250", "15251", "15252", "15253"}) {
        const std::string filled = "adjust_stack_w " + std::string(fill) + "\n";
        bodies.push_back(filled + runs[0] + "print");
        bodies.push_back(filled + "push_local_addr -2\n push_local -3\n push_local -3\n" + runs[1] +
                         "pack_into 2");
        bodies.push_back(filled + "push_local_addr -2\n" + intoSteps[0] + "push_local_addr -2\n" +
                         intoSteps[1] + "print");
    }
    // runs that go on until the budget stops them in the middle
    bodies.push_back(xy + "loop:\n push_local_addr -4\n push_local -5\n push_local -5\n" + runs[5] +
                     "pack_into 2\n jump loop");
    bodies.push_back(xy + "loop:\n push_local_addr -4\n" + intoSteps[0] + "push_local_addr -4\n" +
                     intoSteps[2] + "jump loop");
    expectLikeTheirInstructions(bodies);
}

// The budget counts dispatches (a fused sequence is one), one more per native call, and
// what natives allocate or read, 1 per 256 bytes, as bulk work; a result the budget cannot pay
// for is refused before it is built.
TEST(Interpreter, InstructionBudgetEndsEndlessPrograms) {
    const std::string countToThree = "push_int 0\n"
                                     "again:\n push_local_addr -1\n inc_cell\n"
                                     " push_local -1\n push_int 3\n lt\n jump_if_false done\n"
                                     " jump again\n"
                                     "done:\n print\n";
    const auto repeatAb = [](int times) {
        return "push_string \"ab\"\n push_int " + std::to_string(times) + "\n native 8, 49\n";
    };
    // 1,000 lengths of a 256 KB string: 2,000 jumps, but 1,024 units read each time.
    const std::string measureOften = repeatAb(65536) + "push_int 0\n"
                                                       "again:\n push_local -2\n native 8, 10\n"
                                                       " adjust_stack -1\n push_local_addr -1\n"
                                                       " inc_cell\n push_local -1\n push_int 1000\n"
                                                       " lt\n jump_if_false done\n jump again\n"
                                                       "done:\n push_local -1\n print\n";
    const struct {
        const char* name;
        std::string body;
        TUint64 budget;
        Outcome::Ending ending;
        Log log;
    } cases[] = {
        {"jump to itself", "loop:\n jump loop", 1000, Outcome::Fatal, {}},
        {"fused counter jumping back",
         "push_int 0\nloop:\n push_local_addr -1\n inc_cell\n jump loop",
         1000,
         Outcome::Fatal,
         {}},
        {"no limit", countToThree, 0, Outcome::Returned, {"3"}},
        {"every dispatch, the text and its native call",
         countToThree,
         13,
         Outcome::Returned,
         {"3"}},
        {"one dispatch short", countToThree, 12, Outcome::Fatal, {}},
        {"small result", repeatAb(10) + "native 8, 10\n print\n", 1000, Outcome::Returned, {"20"}},
        {"result beyond the budget", repeatAb(1000000), 1000, Outcome::Fatal, {}},
        {"a gigabyte asked for", repeatAb(1 << 28), 1000, Outcome::Fatal, {}},
        {"the same reads without a budget", measureOften, 0, Outcome::Returned, {"1000"}},
        {"reads beyond the budget", measureOften, 20000, Outcome::Fatal, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualMachine vm;
        RecordingServices services;
        vm.setInstructionBudget(c.budget);
        const Outcome outcome = runImage(vm, services, assembleOrThrow(program(c.body)));
        EXPECT_EQ(outcome.ending, c.ending);
        EXPECT_EQ(vm.instructionBudgetExhausted(), c.ending == Outcome::Fatal);
        if (c.ending == Outcome::Returned) {
            EXPECT_EQ(outcome.log, c.log);
        }
        // Nothing of the size asked for was built.
        EXPECT_LT(vm.arena().allocatedBytes(), 16u << 20);
    }
}

// A loop whose body is thousands of cheap instructions spends its budget on them, not on its
// one jump back.
TEST(Interpreter, InstructionBudgetCountsStraightLineWork) {
    std::string longBody = "again:\n push_string \"lap\"\n print\n";
    for (int i = 0; i < 3000; ++i) longBody += " nop\n";
    longBody += " jump again";
    VirtualMachine vm;
    RecordingServices services;
    vm.setInstructionBudget(10000);
    const Outcome outcome = runImage(vm, services, assembleOrThrow(program(longBody)));
    EXPECT_EQ(outcome.ending, Outcome::Fatal);
    EXPECT_GE(outcome.log.size(), 3u);
    EXPECT_LE(outcome.log.size(), 4u);
}

// A program that only fails and catches spends its budget on the errors: each one that becomes
// an application exception costs as much as 256 jumps.
TEST(Interpreter, InstructionBudgetCountsConvertedErrors) {
    const std::string failForever = "again:\n push_handler -1, caught\n push_int 1\n push_int 0\n"
                                    " div\ncaught:\n adjust_stack -1\n jump again";
    VirtualMachine vm;
    RecordingServices services;
    vm.setInstructionBudget(5 * VirtualMachine::kErrorConversionCost);
    const Outcome outcome = runImage(vm, services, assembleOrThrow(program(failForever)));
    EXPECT_EQ(outcome.ending, Outcome::Fatal);
    // The prelude's internal throw logs two lines per error; uncharged, the jumps alone
    // would have allowed hundreds of errors.
    EXPECT_GE(outcome.log.size(), 2u * 3);
    EXPECT_LE(outcome.log.size(), 2u * 5);
}

} // namespace
