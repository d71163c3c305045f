; A recursion of 1,000,000 levels runs out of operand stack long before its end: the fatal
; error ends the call and the application in an orderly way, whatever handlers are active.
.identifier "zentu-test-recurse01"

.exports
.export "main" code=main method=main
.export "vminternalthrow<int>,<*string>" code=internal_throw method=internal_throw

.methods
.method main
.method internal_throw args=2 c=[1]
.method count args=1

.code
main:
    push_string "start"
    native 30, 1
    push_handler -1, caught
    push_int 1000000
    call count
    push_string "returned"
    native 30, 1
caught:
    push_string "caught"
    native 30, 1
    ret 0, 1

count:                                  ; n, return address
    push_local -2
    jump_if_false done
    push_local -2
    push_int 1
    sub
    call count
    adjust_stack -1
done:
    ret 0, 1

internal_throw:
    push_local -2
    throw_object
