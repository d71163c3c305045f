; A list of 100,000 objects held by the application object: every collection marks them all.
.exports
.export "main" code=main method=main

.types
.type Node refs=[1]

.methods
.method main locals=2 c=[2]

.code
main:                           ; return address
    push_int 0                  ; i
    push_int 0                  ; head
loop:
    push_local -2
    push_int 100000
    lt
    jump_if_false done
    new_object 1, 2             ; node: type, next
    dup
    store_type Node
    dup
    field_addr 1
    push_local -3               ; next = head
    store
    push_local_addr -2          ; head = node
    push_local -2
    store
    adjust_stack -1
    push_local_addr -2
    inc_cell
    jump loop
done:
    native 32, 5                ; the head becomes the application object
    adjust_stack -1
    ret 0, 1
