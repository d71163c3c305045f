; System: 2 hands its text to the host and ends the application with the exit code, which no
; handler catches.
.identifier "zentu-test-exitreq01"

.exports
.export "main" code=main method=main
.export "vminternalthrow<int>,<*string>" code=internal_throw method=internal_throw

.methods
.method main
.method internal_throw args=2 c=[1]

.code
main:
    push_string "before"
    native 30, 1
    push_handler -1, caught
    push_string "shut down"
    native 32, 2
caught:
    push_string "caught"
    native 30, 1
    ret 0, 1

internal_throw:
    push_local -2
    throw_object
