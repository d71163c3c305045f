; Debug: 2 chooses the application's log file: lines go to standard error with the low 8 bits
; of every character, and to the file in UTF-8; empty lines only to standard error.
.identifier "zentu-test-debuglog1"

.exports
.export "main" code=main method=main

.methods
.method main
.method log_text args=1 c=[0]

.code
main:
    push_string "log\\app.log"      ; a backslash separates like "/"; log/ is created
    native 30, 2
    push_string "one"
    call log_text
    push_string ""
    call log_text
    push_string "\u{20AC}uro"
    call log_text
    push_string "../escape.log"     ; refused: the log file stays as it is
    native 30, 2
    push_string "two"
    call log_text
    push_int 0                      ; a null name closes the log file
    native 30, 2
    push_string "three"
    call log_text
    push_string "second.log"
    native 30, 2
    push_string "four"
    call log_text
    push_string "third.log"         ; exists already: emptied
    native 30, 2
    push_string "five"
    call log_text
    ret 0, 1

log_text:
    push_local -2
    native 30, 1
    ret 0, 2
