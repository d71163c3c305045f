; vminternalthrow returns instead of throwing: the machine ends the application with the
; fatal error instead of going on after the failing instruction with an unbalanced call stack.
.identifier "zentu-test-itreturns"

.exports
.export "main" code=main method=main
.export "vminternalthrow<int>,<*string>" code=internal_throw method=internal_throw

.methods
.method main
.method helper
.method internal_throw args=2 c=[1]

.code
main:
    call helper
    push_string "not reached"
    native 30, 1
    ret 0, 1

helper:
    push_int 0
    deref
    ret 0, 2

internal_throw:                         ; code, text, return address
    push_local -2
    native 30, 1
    ret 0, 3
