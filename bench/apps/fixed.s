; 4,000,000 Fixed multiplications: x = x * 1.5 * (2/3) a million times counting up in a while
; loop with the value form, then x *= 1.5; x *= 2/3 a million times counting down in a do-while
; loop with the in-place form. The rounded x goes to the log.
.exports
.export "main" code=main method=main

.methods
.method main locals=3

.code
main:                           ; return address
    push_long 0, 1              ; x = 1.0 (low word, then high word)
    push_int 0                  ; i
up_loop:                        ; while i < 1000000
    push_local -1
    push_int 1000000
    lt
    jump_if_false up_done
    push_local_addr -3          ; x = x * 1.5 * 0.6666...
    push_local -4
    push_local -4
    push_long 0x80000000, 1
    native 11, 9
    push_long 0xAAAAAAAB, 0
    native 11, 9
    pack_into 2
    push_local_addr -1
    inc_cell
    jump up_loop
up_done:
down_loop:                      ; do x *= 1.5; x *= 0.6666...; i -= 1 while i > 0
    push_local_addr -3
    push_long 0x80000000, 1
    native 11, 14
    push_local_addr -3
    push_long 0xAAAAAAAB, 0
    native 11, 14
    push_local_addr -1
    dec_cell
    push_local -1
    push_int 0
    le
    jump_if_false down_loop
    adjust_stack -1
    native 11, 26               ; round to an integer
    int_to_string
    native 30, 1
    ret 0, 1
