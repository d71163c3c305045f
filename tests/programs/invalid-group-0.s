; A native call to group 0 is a fatal error: no handler catches it, the run ends.
.identifier "zentu-test-badgroup0"

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
    native 0, 1
caught:
    push_string "caught"
    native 30, 1
    ret 0, 1

internal_throw:                         ; code, text, return address
    push_local -2
    throw_object
