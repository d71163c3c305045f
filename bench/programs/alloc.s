; Allocation churn: every foreground event builds a list of 1,000 three-slot objects and drops
; it; the collection after the event frees them. main makes the application object.
.exports
.export "main" code=main method=main

.virtuals
.virtual foreground "<*application>.foreground event"
.entry type=Application code=foreground method=foreground

.types
.type Application
.type Node refs=[1]

.methods
.method main
.method foreground args=1 locals=2 c=[3]

.code
main:
    new_object 1, 1
    dup
    store_type Application
    native 32, 5
    ret 0, 1

foreground:                     ; application, return address
    push_int 0                  ; i
    push_int 0                  ; head
loop:
    push_local -2
    push_int 1000
    lt
    jump_if_false done
    new_object 1, 3             ; node: type, next, value
    dup
    store_type Node
    dup
    field_addr 1
    push_local -3               ; next = head
    store
    dup
    field_addr 2
    push_local -4               ; value = i
    store
    push_local_addr -2          ; head = node
    push_local -2
    store
    adjust_stack -1
    push_local_addr -2          ; i += 1
    inc_cell
    jump loop
done:
    adjust_stack -2
    ret 0, 2
