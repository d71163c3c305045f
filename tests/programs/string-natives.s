; String: natives as applications see them. push_string and int_to_string make string values.
; In-place edits reach every holder of the value, assignment makes a new string, and the errors
; arrive with their codes' names and texts.
.identifier "zentu-test-strings01"

.exports
.export "main" code=main method=main
.export "vminternalthrow<int>,<*string>" code=internal_throw method=internal_throw

.types
.type Failure refs=[2]                  ; field 1: the error code, field 2: the text

.methods
.method main
.method internal_throw args=2 c=[1]
.method report args=1 c=[0]
.method log_value args=1 c=[0]
.method log_int args=1

.code
main:
    push_handler -1, unknown3
    native 8, 3                         ; no operation: the unknown-function error
unknown3:
    call report
    push_handler -1, unknown54
    native 8, 54
unknown54:
    call report

    push_string "Hello"
    push_local -1                       ; v v: two holders of the same value
    push_string ", World"
    native 8, 62                        ; append in place through the upper holder
    push_local -1
    call log_value                      ; the lower holder sees it
    push_string ""
    push_local -1
    push_local -3
    native 8, 2                         ; w = v: a new string with the same text
    push_local -1
    native 8, -128                      ; upper-case w in place
    push_local -2
    call log_value                      ; v unchanged
    call log_value                      ; w
    adjust_stack -1

    push_int -2147483648
    native 8, -122
    call log_value
    push_int -1
    push_int 16
    native 8, -121
    call log_value
    push_string "  42abc"
    native 8, -120
    call log_int
    push_string "abc"
    push_int 5
    push_int -1
    native 8, -106                      ; to the end from outside the string: empty
    call log_value
    push_string "abcABC"
    push_string "bca"
    native 8, 16                        ; a Range: position, then length on top
    call log_int
    call log_int
    push_string "a,,b,"
    push_string ","
    native 8, 50                        ; a vector of the non-empty pieces
    push_local -1
    native 7, 11
    call log_int
    push_int 1
    native 7, 8                         ; element 1 replaces the vector
    call log_value
    push_string "x-y-z"
    push_local -1
    push_string "-"
    push_string " + "
    native 8, 85                        ; replace every occurrence in place
    call log_value

    push_handler -1, parse_error
    push_string "abc"
    native 8, -120
parse_error:
    call report
    push_handler -1, range_error
    push_string "abc"
    push_int -1
    push_int 2
    native 8, -106
range_error:
    call report
    push_handler -1, range_error2
    push_string "abc"
    push_string "b"
    push_int 1
    push_int 0
    native 8, 17                        ; count 0 with first 1
range_error2:
    call report
    push_handler -1, index_error
    push_string ""
    native 8, 14
index_error:
    call report
    push_handler -1, argument_error
    push_string "ab"
    push_int -1
    native 8, 49
argument_error:
    call report
    push_handler -1, null_string
    push_int 0
    native 8, 10
null_string:
    call report
    push_handler -1, null_object
    push_int 0
    box                                 ; a box that holds no string
    native 8, 10
null_object:
    call report
    push_handler -1, not_a_string
    push_string "x"
    box                                 ; a box around a string value: no string object
    push_string "y"
    native 8, 62
not_a_string:
    call report
    push_handler -1, too_long
    push_string ""
    push_local -1
    push_int 120
    push_int 1000
    native 8, 5                         ; 1000 times "x"
    push_int 2000000000
    native 8, 49
too_long:
    call report
    ret 0, 1

report:                                 ; failure, return address: logs the text
    push_local -2
    field_addr 2
    deref
    native 30, 1
    ret 0, 2

log_value:                              ; string value, return address
    push_local -2
    native 30, 1
    ret 0, 2

log_int:                                ; number, return address
    push_local -2
    int_to_string
    native 30, 1
    ret 0, 2

internal_throw:                         ; code, text, return address
    new_object 1, 3
    dup
    store_type Failure
    dup
    field_addr 1
    push_local -5
    store
    dup
    field_addr 2
    push_local -4
    store
    throw_object
