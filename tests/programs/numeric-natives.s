; Fixed:, Long:, Math:, Number:, Char: and Byte: natives as applications see them: texts of
; Fixed values, saturation, the errors with their codes' names, and the unknown numbers with
; the position of the native call.
.identifier "zentu-test-numbers01"

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
.method show args=2 c=[0]
.method show_fixed args=3
.method show_long args=1 c=[0]

.code
main:
    push_string "3"
    push_int -1
    call show                           ; 3.0
    push_string "2.5"
    push_int 0
    call show                           ; 3
    push_string "-2.5"
    push_int 0
    call show                           ; -3
    push_string "0.999"
    push_int 2
    call show                           ; 1.00
    push_string "  +-3abc"
    push_int -1
    call show                           ; -3.0
    push_string "2147483647.9999"
    push_int 2
    call show                           ; the largest integer part keeps its value
    push_string "-99999999999"
    push_int -1
    call show                           ; the minimum
    push_handler -1, parse_error
    push_string "abc"
    push_int -1
    call show
parse_error:
    call report
    push_handler -1, decimals_error
    push_string "1"
    push_int -2
    call show
decimals_error:
    call report

    native 11, 30                       ; maximum + 1.0 stays the maximum
    push_int 1
    native 11, 2
    native 11, 7
    push_int -1
    call show_fixed
    push_long 0, 65536                  ; 65536.0 * 65536.0 saturates
    push_long 0, 65536
    native 11, 9
    push_int 0
    call show_fixed
    push_long 0, -2                     ; (-2.0) ^ 3.0
    push_long 0, 3
    native 11, 11
    push_int -1
    call show_fixed
    push_long 0x80000000, -3            ; round(-2.5): halves away from zero
    native 11, 26
    call log_int
    push_long 0xC0000000, -1            ; round(-0.25)
    native 11, 26
    call log_int
    push_handler -1, divide_error
    push_long 0, 1
    push_long 0, 0
    native 11, 10                       ; a zero divisor is a MathException
divide_error:
    call report
    push_handler -1, power_error
    push_long 0, -8
    push_long 0x80000000, 0
    native 11, 11                       ; (-8.0) ^ 0.5
power_error:
    call report

    push_long 0, 360
    native 26, 8                        ; 360 degrees in radians
    push_int 5
    call show_fixed
    push_handler -1, degrees_error
    push_long 1, 360                    ; 360 + 2^-32 degrees
    native 26, 8
degrees_error:
    call report
    push_handler -1, asin_error
    push_long 1, 1                      ; 1 + 2^-32
    native 26, 4
asin_error:
    call report
    push_int 7
    push_int 7
    native 26, 12                       ; random between 7 and 7
    call log_int

    push_int -7
    native 12, 38
    push_int 2
    native 12, 38
    native 12, 8                        ; -7 / 2
    call show_long
    push_int -7
    native 12, 38
    push_int 2
    native 12, 38
    native 12, 9                        ; -7 % 2
    call show_long
    push_handler -1, long_zero
    push_int 1
    native 12, 38
    push_int 0
    native 12, 38
    native 12, 8
long_zero:
    call report
    push_handler -1, long_null
    push_int 0
    native 12, 34
long_null:
    call report
    push_handler -1, long4
    native 12, 4
long4:
    call report

    push_int -2147483648
    native 27, 2
    call log_int
    push_int -1
    push_int 16
    native 27, 3
    call log_value
    push_int 97
    native 10, 4                        ; upper case of "a"
    call log_int
    push_int 0
    push_int 81
    native 10, 1                        ; (x, "Q"): lower case, x dropped
    call log_int
    push_int 81
    native 10, 8                        ; a one-unit string
    call log_value
    push_handler -1, byte0
    native 9, 0
byte0:
    call report
    push_handler -1, fixed31
    native 11, 31
fixed31:
    call report
    ret 0, 1

show:                                   ; text, decimals, return address
    push_local -3
    native 11, 4                        ; parse: the Fixed in two slots
    push_local -4
    call show_fixed
    ret 0, 3

show_fixed:                             ; low, high, decimals, return address
    new_object 1, 3                     ; fields 1 and 2 hold the Fixed
    field_addr 1
    push_local -1
    push_local -6
    push_local -6
    native 11, 12                       ; cell += value
    push_local -3
    native 11, 24
    call log_value
    ret 0, 4

show_long:                              ; long, return address
    push_local -2
    native 12, 34
    call log_value
    ret 0, 2

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
