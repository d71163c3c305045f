; System: and Debug: functions that cannot fail.
.identifier "zentu-test-sysdebug1"

.exports
.export "main" code=main method=main

.methods
.method main
.method log_text args=1 c=[0]
.method log_int args=1

.code
main:
    push_string "hello"
    call log_text
    native 30, 3                ; Debug: 3 does nothing
    push_string ""
    call log_text               ; an empty message still makes a line
    native 32, 4                ; System: 4, the call stack text
    call log_text
    native 32, 6                ; System: 6 and 7 answer 0 on this host
    call log_int
    native 32, 7
    call log_int
    push_int 1
    push_int 2
    push_int 3
    native 32, 13               ; drops 3 and 2
    call log_int
    push_int 42
    native 32, 14               ; the top becomes 0
    call log_int
    push_int 43
    native 32, 15
    call log_int
    native 32, 3                ; milliseconds since the load began: a few at most
    push_int 60000
    lt
    jump_if_false slow
    push_string "elapsed is small"
    call log_text
slow:
    native 32, 8                ; the wall clock: its low 32 bits, any value
    adjust_stack -1
    ret 0, 1

log_text:                       ; text, return address
    push_local -2
    native 30, 1
    ret 0, 2

log_int:                        ; number, return address
    push_local -2
    int_to_string
    native 30, 1
    ret 0, 2
