; 1,000,000 exceptions thrown by a called method and caught in the loop that called it.
; The number caught becomes the application object.
.exports
.export "main" code=main method=main

.types
.type Problem

.methods
.method main locals=3
.method thrower args=1

.code
main:                           ; return address
    new_object 1, 1             ; the exception object
    dup
    store_type Problem
    push_int 0                  ; caught
    push_int 0                  ; i
loop:
    push_local -1
    push_int 1000000
    lt
    jump_if_false done
    push_handler Problem, caught
    push_local -3               ; the exception, argument of thrower
    call thrower
    adjust_handlers -1          ; never reached: thrower always throws
    adjust_stack -1
caught:                         ; the exception is on top
    adjust_stack -1
    push_local_addr -2
    inc_cell
    push_local_addr -1
    inc_cell
    jump loop
done:
    adjust_stack -1
    wrap
    native 32, 5
    adjust_stack -1
    ret 0, 1

thrower:                        ; exception, return address
    push_local -2
    throw_object
