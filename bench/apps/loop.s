; 100,000,000 masked additions s = (s + i) & 0xFFFFFF: half counting up in a while loop (the
; test laid out at the bottom), half counting down in a do-while loop. s goes to the log.
.exports
.export "main" code=main method=main

.methods
.method main locals=2

.code
main:                           ; return address
    push_int 0                  ; s
    push_int 0                  ; i
    jump up_test
up_loop:
    push_local_addr -2          ; s = (s + i) & 0xFFFFFF
    push_local -3
    push_local -3
    add
    push_int 0xFFFFFF
    band
    store
    push_local_addr -1          ; i += 1
    inc_cell
up_test:
    push_local -1               ; while i < 50000000
    push_int 50000000
    ge
    jump_if_false up_loop

    push_local_addr -1          ; i = 50000000
    push_int 50000000
    store
down_loop:                      ; do s = (s + i) & 0xFFFFFF; i -= 1 while i > 0
    push_local_addr -2
    push_local -3
    push_local -3
    add
    push_int 0xFFFFFF
    band
    store
    push_local_addr -1
    dec_cell
    push_local -1
    push_int 0
    le
    jump_if_false down_loop

    adjust_stack -1
    int_to_string
    native 30, 1
    ret 0, 1
