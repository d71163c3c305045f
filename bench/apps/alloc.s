; Allocation churn: every foreground event builds 1,000 three-slot objects and drops them; the
; collection after the event frees them. Half are linked into a local list in a while loop
; counting up, half into a list the application object holds, in a do-while loop counting down.
.exports
.export "main" code=main method=main

.virtuals
.virtual foreground "<*application>.foreground event"
.entry type=Application code=foreground method=foreground

.types
.type Application refs=[1]      ; list
.type Node refs=[1]             ; next, value

.methods
.method main
.method foreground args=1 locals=2

.code
main:
    new_object 1, 2
    dup
    store_type Application
    native 32, 5
    ret 0, 1

foreground:                     ; application box, return address
    push_int 0                  ; head
    push_int 0                  ; i
up_loop:                        ; while i < 500: head = new Node(head, i)
    push_local -1
    push_int 500
    lt
    jump_if_false up_done
    new_object 1, 3
    dup
    store_type Node
    dup
    field_addr 1
    push_local -4
    store
    dup
    field_addr 2
    push_local -3
    store
    push_local_addr -3
    push_local -2
    store
    adjust_stack -1
    push_local_addr -1
    inc_cell
    jump up_loop
up_done:
down_loop:                      ; do this.list = new Node(this.list, i); i -= 1 while i > 0
    push_field_addr_local -4, 1
    new_object 1, 3
    dup
    store_type Node
    dup
    field_addr 1
    push_field_addr_local -7, 1
    deref
    store
    dup
    field_addr 2
    push_local -4
    store
    store
    push_local_addr -1
    dec_cell
    push_local -1
    push_int 0
    le
    jump_if_false down_loop
    push_field_addr_local -4, 1 ; this.list = null
    store_zero
    adjust_stack -2
    ret 0, 2
