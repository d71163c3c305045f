; A division by zero that no handler catches: the application's last resort logs and exits,
; and the explanation gives the error behind the exception and where it happened.
.identifier "zentu-test-uncaught1"

.exports
.export "main" code=main method=main
.export "vminternalthrow<int>,<*string>" code=internal_throw method=internal_throw
.export "vmprintthrowableandexit<*throwable>" code=last_resort method=last_resort

.types
.type Failure

.methods
.method main
.method divide args=2
.method internal_throw args=2 c=[1]
.method last_resort args=1 a=[0]

.code
main:
    push_int 1
    push_int 0
    call divide
    ret 0, 1

divide:                                 ; a, b, return address
    push_local -3
    push_local -3
    div
    ret 0, 3

internal_throw:                         ; code, text, return address
    new_object 1, 1
    dup
    store_type Failure
    throw_object

last_resort:                            ; throwable, return address
    push_string "uncaught"
    native 30, 1
    push_string "exit"
    native 32, 2
