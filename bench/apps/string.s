; A 100,000-character string built one character at a time: half appending a computed
; character in a while loop counting up, half appending a one-character string in a do-while
; loop counting down. The length goes to the log.
.exports
.export "main" code=main method=main

.methods
.method main locals=2

.code
main:                           ; return address
    push_string ""              ; s
    push_int 0                  ; i
up_loop:                        ; while i < 50000: s.append('a' + i % 26)
    push_local -1
    push_int 50000
    lt
    jump_if_false up_done
    push_local -2
    push_local -2
    push_int 26
    rem
    push_int 97
    add
    native 8, 63
    push_local_addr -1
    inc_cell
    jump up_loop
up_done:
down_loop:                      ; do s.append("z"); i -= 1 while i > 0
    push_local -2
    push_string "z"
    native 8, 62
    push_local_addr -1
    dec_cell
    push_local -1
    push_int 0
    le
    jump_if_false down_loop
    adjust_stack -1
    native 8, 10
    int_to_string
    native 30, 1
    ret 0, 1
