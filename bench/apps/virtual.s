; 20,000,000 virtual calls whose receiver alternates between two classes: half counting up in
; a while loop with the receiver chosen by a branch, half counting down in a do-while loop with
; the receiver read from a field of a pair object. The sum goes to the log.
.exports
.export "main" code=main method=main

.virtuals
.virtual value "value"
.entry type=A code=a_value method=value
.entry type=B code=b_value method=value

.types
.type A
.type B
.type Pair refs=[1, 2]

.methods
.method main locals=5
.method value args=2 a=[0]

.code
main:                           ; return address
    new_object 1, 1             ; a
    dup
    store_type A
    new_object 1, 1             ; b
    dup
    store_type B
    new_object 1, 3             ; pair: type, b for even i, a for odd i
    dup
    store_type Pair
    dup
    field_addr 1
    push_local -3
    store
    dup
    field_addr 2
    push_local -4
    store
    push_int 0                  ; s
    push_int 0                  ; i
up_loop:                        ; while i < 10000000
    push_local -1
    push_int 10000000
    lt
    jump_if_false up_done
    push_local_addr -2          ; &s
    push_local -2
    push_int 1
    band
    jump_if_false up_even
    push_local -6               ; a for odd i
    jump up_call
up_even:
    push_local -5               ; b for even i
up_call:                        ; s += receiver.value(i)
    push_local -3
    push_local -2
    deref
    call_virtual value
    add_cell
    push_local_addr -1
    inc_cell
    jump up_loop
up_done:
    push_local_addr -1          ; i = 10000000
    push_int 10000000
    store
down_loop:                      ; do s += pair[1 + (i & 1)].value(i); i -= 1 while i > 0
    push_local_addr -2
    push_local -4
    push_local -3
    push_int 1
    band
    push_int 1
    add
    push_int 4
    mul
    add
    deref
    push_local -3
    push_local -2
    deref
    call_virtual value
    add_cell
    push_local_addr -1
    dec_cell
    push_local -1
    push_int 0
    le
    jump_if_false down_loop
    adjust_stack -1
    int_to_string
    native 30, 1
    adjust_stack -3
    ret 0, 1

a_value:                        ; receiver, x, return address; leaves x + 1
    push_local_addr -3
    push_local -3
    push_int 1
    add
    store
    ret 0, 2
b_value:                        ; leaves x + 2
    push_local_addr -3
    push_local -3
    push_int 2
    add
    store
    ret 0, 2
