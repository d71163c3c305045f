; An integer loop of 100,000,000 iterations: s += i for i from 0, tested at the bottom as a
; compiler lays out a counting loop. The sum (modulo 2^32) becomes the application object.
.exports
.export "main" code=main method=main

.methods
.method main locals=2

.code
main:                           ; return address
    push_int 0                  ; s
    push_int 0                  ; i
    jump test
loop:
    push_local_addr -2          ; s += i
    push_local -2
    add_cell
    push_local_addr -1          ; i += 1
    inc_cell
test:
    push_local -1               ; again while i < 100000000
    push_int 100000000
    ge
    jump_if_false loop
    adjust_stack -1
    wrap
    native 32, 5
    ret 0, 1
