; 10,000,000 updates of object fields: half counting up in a while loop, c.total = c.total + i
; through a local reference; half counting down in a do-while loop, this.counter.count += i & 7
; through the object a field of the receiver refers to. Both sums go to the log.
.exports
.export "main" code=main method=main

.types
.type Counter                   ; count, total
.type Owner refs=[1]            ; counter

.methods
.method main locals=2
.method count_down args=2 c=[0]

.code
main:                           ; return address
    new_object 1, 3             ; c
    dup
    store_type Counter
    push_int 0                  ; i
    jump up_test
up_loop:
    push_local -2               ; c.total = c.total + i
    field_addr 2
    push_local -3
    field_addr 2
    deref
    push_local -3
    add
    store
    push_local_addr -1
    inc_cell
up_test:
    push_local -1
    push_int 5000000
    ge
    jump_if_false up_loop
    adjust_stack -1
    new_object 1, 2             ; owner
    dup
    store_type Owner
    dup
    field_addr 1
    push_local -3
    store
    box                         ; the receiver by reference
    push_int 5000000
    call count_down
    push_local -1
    field_addr 2
    deref
    int_to_string
    native 30, 1
    push_local -1
    field_addr 1
    deref
    int_to_string
    native 30, 1
    adjust_stack -1
    ret 0, 1

count_down:                     ; owner box, n, return address
down_loop:                      ; do this.counter.count += n & 7; n -= 1 while n > 0
    push_field_addr_local -3, 1
    deref
    field_addr 1
    push_local -3
    push_int 7
    band
    add_cell
    push_local_addr -2
    dec_cell
    push_local -2
    push_int 0
    le
    jump_if_false down_loop
    ret 0, 3
