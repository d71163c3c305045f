; Splitting a string of 1,048,580 characters (209,716 times "word,") at its commas, once by a
; separator string and once by a separator character, case-sensitively. The piece counts go to
; the log.
.exports
.export "main" code=main method=main

.methods
.method main locals=1

.code
main:                           ; return address
    push_string "word,"
    push_int 209716
    native 8, 49                ; text
    push_local -1
    push_string ","
    native 8, 50                ; split by a string
    native 7, 11                ; its length
    int_to_string
    native 30, 1
    push_local -1
    push_int 44                 ; ','
    push_int 1
    native 8, 53                ; split by a character
    native 7, 11
    int_to_string
    native 30, 1
    adjust_stack -1
    ret 0, 1
