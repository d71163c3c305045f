; An application whose foreground event does nothing: the cost of an entry call and of the
; collection after it, on a small heap (the application object and a list of 100 objects).
.exports
.export "main" code=main method=main

.virtuals
.virtual foreground "<*application>.foreground event"
.entry type=Application code=foreground method=foreground

.types
.type Application refs=[1]
.type Node refs=[1]

.methods
.method main locals=2 c=[2]
.method foreground args=1

.code
main:                           ; return address
    push_int 0                  ; i
    push_int 0                  ; head
loop:
    push_local -2
    push_int 100
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
    new_object 1, 2             ; the application object holds the list
    dup
    store_type Application
    dup
    field_addr 1
    push_local -3
    store
    native 32, 5
    adjust_stack -2
    ret 0, 1

foreground:                     ; application, return address
    ret 0, 2
