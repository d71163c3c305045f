; The key event the host builds for a key of the event script, read through the KeyEvent:
; natives, and what they do with anything that is not a key event.
.identifier "zentu-test-keyevent1"

.exports
.export "main" code=main method=main
.export "vminternalthrow<int>,<*string>" code=internal_throw method=internal_throw

.virtuals
.virtual "<*application>.key pressed<keyevent>"
.entry type=Application code=key_pressed method=key_pressed

.types
.type Application
.type Failure refs=[2]

.methods
.method main
.method internal_throw args=2 c=[1]
.method report args=1 c=[0]
.method key_pressed args=2 c=[0, 1]
.method log_text args=1 c=[0]
.method log_int args=1

.code
main:
    push_handler -1, null_event
    push_int 0
    native 35, 1
null_event:
    call report
    push_handler -1, plain_object
    new_object 2, 1
    native 35, 3
plain_object:
    call report
    push_handler -1, forged
    push_int 0x10000
    native 35, 2
forged:
    call report
    push_handler -1, unknown
    push_int 0
    native 35, 0
unknown:
    call report
    new_object 1, 1
    dup
    store_type Application
    native 32, 5
    ret 0, 1

key_pressed:                            ; application, key event, return address
    push_local -2
    native 35, 1
    call log_int
    push_local -2
    native 35, 2
    call log_int
    push_local -2
    native 35, 3
    call log_int
    push_local -2
    native 35, 4
    call log_text
    ret 0, 3

report:
    push_local -2
    field_addr 2
    deref
    call log_text
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

log_text:
    push_local -2
    native 30, 1
    ret 0, 2

log_int:
    push_local -2
    int_to_string
    native 30, 1
    ret 0, 2
