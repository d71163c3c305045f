; 10,000,000 virtual calls from one call site whose receiver alternates between two classes.
; The sum of the results becomes the application object.
.exports
.export "main" code=main method=main

.virtuals
.virtual value "value"
.entry type=A code=a_value method=value
.entry type=B code=b_value method=value

.types
.type A
.type B

.methods
.method main locals=4
.method value args=2 a=[0]

.code
main:                           ; return address
    new_object 1, 1             ; a
    dup
    store_type A
    new_object 1, 1             ; b
    dup
    store_type B
    push_int 0                  ; s
    push_int 0                  ; i
loop:
    push_local -1
    push_int 10000000
    lt
    jump_if_false done
    push_local_addr -2          ; &s
    push_local -2
    push_int 1
    band
    jump_if_false even
    push_local -5               ; a for odd i
    jump call
even:
    push_local -4               ; b for even i
call:                           ; &s, receiver
    push_local -3               ; i
    push_local -2
    deref                       ; the receiver's type id
    call_virtual value
    add_cell                    ; s += receiver.value(i)
    push_local_addr -1
    inc_cell
    jump loop
done:
    adjust_stack -1
    wrap
    native 32, 5
    adjust_stack -2
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
