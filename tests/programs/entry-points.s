; How the host's names find the application's methods: "main" takes the first export that
; begins with it; a "*" run after "<" gives the argument's indirection level (the host hands
; over the application at level 1, numbers and key events at level 0: the difference is the
; number of boxes around them); an event whose method is missing, or has no implementation
; for the receiver's class, is dropped; the second System: 5 replaces the application object.
.identifier "zentu-test-entrypnts"

.exports
.export "main_first" code=main_first method=main
.export "main" code=main_second method=main
.export "<*application>.background event" code=background method=background

.virtuals
.virtual "<**application>.key pressed<*keyevent>"
.entry type=Application code=key_pressed method=key_pressed
.virtual "<*application>.key released<keyevent>"
.entry type=Other code=key_released method=key_released
.virtual "<*application>.pointer event<int>at x<*int>y<**int>modifiers<int>"
.entry type=Application code=pointer method=pointer

.types
.type Application refs=[1]              ; field 1: a name
.type Other

.methods
.method main
.method key_pressed args=2 c=[0, 1]
.method key_released args=2 c=[0, 1]
.method pointer args=5 c=[0, 2, 3]
.method background args=1 c=[0]
.method log_text args=1 c=[0]
.method log_int args=1
.method new_application args=1 c=[0]

.code
main_first:
    push_string "main_first"
    call log_text
    push_string "first application"
    call new_application
    native 32, 5
    push_string "second application"
    call new_application
    native 32, 5                        ; the first one is no longer the application
    ret 0, 1

main_second:
    push_string "main_second"
    call log_text
    ret 0, 1

new_application:                        ; name, return address; leaves the object in place
    new_object 1, 2
    dup
    store_type Application
    dup
    field_addr 1
    push_local -4                       ; the name
    store
    push_local_addr -3                  ; the name's slot takes the object
    push_local -2
    store
    adjust_stack -1
    ret 0, 1

key_pressed:                            ; application in a box, key event in a box
    push_local -3
    deref
    field_addr 1
    deref
    call log_text
    push_local -2
    deref
    native 35, 1
    call log_int
    ret 0, 3

key_released:
    push_string "key released reached a class without it"
    call log_text
    ret 0, 3

pointer:                                ; application, kind, x at level 1, y at level 2, modifiers
    push_local -4
    deref
    call log_int
    push_local -3
    deref2
    call log_int
    ret 0, 6

background:                             ; a static method: no class to dispatch on
    push_string "background"
    call log_text
    ret 0, 2

log_text:
    push_local -2
    native 30, 1
    ret 0, 2

log_int:
    push_local -2
    int_to_string
    native 30, 1
    ret 0, 2
