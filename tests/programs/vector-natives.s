; Vectors as applications see them: a vector field made by new_vector, vectors returned by the
; checked-range operations and kept in the application object across the collection that ends
; main, a vector of references, the errors with their names and texts, and the Range:,
; Encoder: and Hash: groups.
.identifier "zentu-test-vectors01"

.exports
.export "main" code=main method=main
.export "vminternalthrow<int>,<*string>" code=internal_throw method=internal_throw

.virtuals
.virtual "<*application>.key pressed<keyevent>"
.entry type=Application code=key_pressed method=key_pressed

.types
; field 1: a vector value of ints, fields 2 and 3: a vector field of ints,
; field 4: a vector value of references
.type Application refs=[1, 4] vectors=[2]
.type Failure refs=[2]

.methods
.method main
.method internal_throw args=2 c=[1]
.method report args=1 c=[0]
.method key_pressed args=2 c=[0, 1]
.method log_int args=1
.method log_ints args=1 c=[0]

.code
main:                                   ; return address
    new_object 1, 5
    dup
    store_type Application
    dup
    native 32, 5                        ; the application object; stack: ret, app
    dup
    field_addr 2
    new_vector 4                        ; an empty vector of ints in fields 2 and 3
    dup
    field_addr 2
    push_int 0
    native 3, 19
    dup
    field_addr 2
    push_int 10
    native 3, 19
    dup
    field_addr 2
    push_int 20
    native 3, 19
    dup
    field_addr 2
    push_int 30
    native 3, 19
    dup
    field_addr 2
    push_int 40
    native 3, 19
    dup
    field_addr 2
    call log_ints                       ; 0 10 20 30 40

    dup
    field_addr 1
    push_local -2
    field_addr 2
    push_int 2
    push_int -1
    native 3, 82                        ; elements 2 to the end, as a new vector
    store                               ; into field 1

    dup
    field_addr 4
    new_object 7, 1                     ; a holder for a vector of references
    store
    dup
    field_addr 4
    deref
    push_string "alpha"
    native 7, 29                        ; a new vector holding "alpha"
    dup
    field_addr 4
    deref
    push_string "beta"
    native 7, 19                        ; append "beta"

    push_handler -1, out_of_bounds
    dup
    field_addr 2
    push_int 3
    push_int 4
    native 3, 82
out_of_bounds:
    call report
    push_handler -1, beyond_end
    dup
    field_addr 2
    push_int 6
    push_int -1
    native 3, 82
beyond_end:
    call report
    push_handler -1, negative_first
    dup
    field_addr 2
    push_int -1
    push_int 0
    push_local -4
    field_addr 2
    native 3, 81
negative_first:
    call report
    push_handler -1, empty_first
    dup
    field_addr 2
    push_int 5
    push_int 0
    native 3, 82                        ; an empty vector
    native 3, 9
empty_first:
    call report
    push_handler -1, null_vector
    push_int 0
    native 3, 11
null_vector:
    call report
    push_handler -1, negative_copies
    new_object 6, 1
    push_int 1
    push_int -1
    native 3, 3
negative_copies:
    call report
    push_handler -1, too_large
    new_object 6, 1
    push_int 1
    push_int 2
    push_int 3
    push_int 4
    push_int 1000000000
    native 6, 3                         ; 16 GB of elements
too_large:
    call report
    push_handler -1, function1
    native 3, 1
function1:
    call report
    push_handler -1, function7
    dup
    field_addr 2
    push_int 0
    native 3, 7                         ; element addresses: reference vectors only
function7:
    call report

    new_object 2, 2                     ; a range
    dup
    push_int 2
    push_int 5
    native 14, 3                        ; from 2 to 5
    dup
    native 14, 5
    call log_int                        ; 2
    dup
    native 14, 6
    call log_int                        ; 4
    push_handler -1, reversed_range
    push_int 5
    push_int 2
    native 14, 3
reversed_range:
    call report
    push_int 1
    push_int 2
    push_int 1
    push_int 2
    native 14, 9
    call log_int                        ; 1
    adjust_stack -1

    push_int 0
    push_int 0
    push_int 0
    push_string "Gr\u{FC}\u{DF}e \u{20AC}"
    native 28, 1                        ; UTF-8 bytes
    dup
    native 1, 11
    call log_int                        ; 11
    native 28, 2                        ; decoded
    native 28, 1                        ; and encoded again
    native 1, 11
    call log_int                        ; 11
    push_int 0
    push_int 0
    push_string "plain text"
    native 28, 1
    native 28, 2
    native 30, 1                        ; plain text
    push_handler -1, malformed
    new_object 6, 1
    dup
    push_int 0xC3                       ; a lead byte without its second byte
    native 1, 29
    push_int 0
    push_local -2
    native 28, 2
malformed:
    call report

    new_object 14, 1
    dup
    push_int 1
    native 34, 1                        ; a hash object in the box
    dup
    new_object 6, 1
    dup
    push_int 0
    push_int 7
    native 1, 3                         ; seven zero bytes
    native 34, 3
    native 34, 4                        ; the digest: empty
    native 1, 11
    call log_int                        ; 0
    adjust_stack -1
    ret 0, 1

key_pressed:                            ; application, key event, return address
    new_object 2, 10                    ; blocks that would reuse anything freed
    new_object 2, 10
    new_object 2, 10
    new_object 2, 10
    new_object 2, 10
    new_object 2, 10
    adjust_stack -6
    push_local -3
    field_addr 1
    deref
    call log_ints                       ; 20 30 40
    push_local -3
    field_addr 2
    call log_ints                       ; 0 10 20 30 40
    push_local -3
    field_addr 4
    deref
    native 7, 10                        ; the last element: "beta"
    native 30, 1
    push_local -3
    field_addr 4
    deref
    native 7, 11
    call log_int                        ; 2
    ret 0, 3

log_ints:                               ; vector value, return address
    push_int 0                          ; i
next:
    push_local -1
    push_local -4
    native 3, 11
    lt
    jump_if_false done
    push_local -3
    push_local -2
    native 3, 8                         ; the vector stays below the element
    call log_int
    adjust_stack -1
    push_int 1
    add
    jump next
done:
    adjust_stack -1
    ret 0, 2

report:                                 ; failure, return address: logs the text
    push_local -2
    field_addr 2
    deref
    native 30, 1
    ret 0, 2

log_int:                                ; number, return address
    push_local -2
    int_to_string
    native 30, 1
    ret 0, 2

internal_throw:                         ; code, text, return address
    new_object 1, 3
    dup
    store_type Failure
    dup
    field_addr 1
    push_local -5
    store
    dup
    field_addr 2
    push_local -4
    store
    throw_object
