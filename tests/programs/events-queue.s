; Host events that arrive while a call runs wait behind it and then run in arrival order: the
; script delivers events while main runs and while a timer's call runs.
.identifier "zentu-test-evqueue01"

.exports
.export "main" code=main method=main

.virtuals
.virtual "<*application>.key pressed<keyevent>"
.entry type=Application code=key_pressed method=key_pressed
.virtual "<*application>.key released<keyevent>"
.entry type=Application code=key_released method=key_released
.virtual "<*application>.pointer event<int>at x<int>y<int>modifiers<int>"
.entry type=Application code=pointer method=pointer
.virtual "<*application>.foreground event"
.entry type=Application code=foreground method=foreground
.virtual "<*application>.background event"
.entry type=Application code=background method=background
.virtual "<*systemtimerlistener>.systemtimerevent"
.entry type=Application code=tick method=tick

.types
.type Application                       ; field 1: the timer id

.methods
.method main
.method key_pressed args=2 c=[0, 1]
.method key_released args=2 c=[0, 1]
.method pointer args=5 c=[0]
.method foreground args=1 c=[0]
.method background args=1 c=[0]
.method tick args=1 c=[0]
.method log_text args=1 c=[0]
.method log_int args=1
.method log_key args=1 c=[0]

.code
main:
    new_object 1, 2
    dup
    store_type Application
    dup
    native 32, 5                        ; the application object
    dup
    field_addr 1
    push_local -2
    push_int 1
    native 33, 1                        ; the application is the timer's listener too
    store                               ; field 1: the timer id
    adjust_stack -1
    push_string "ready"                 ; the script delivers its first events here
    call log_text
    push_string "main ends"
    call log_text
    ret 0, 1

key_pressed:                            ; application, key event, return address
    push_string "pressed"
    call log_text
    push_local -2
    call log_key
    ret 0, 3

key_released:
    push_string "released"
    call log_text
    push_local -2
    call log_key
    ret 0, 3

pointer:                                ; application, kind, x, y, modifiers, return address
    push_string "pointer"
    call log_text
    push_local -5
    call log_int
    push_local -4
    call log_int
    push_local -3
    call log_int
    push_local -2
    call log_int
    ret 0, 6

foreground:                             ; application, return address
    push_string "foreground"
    call log_text
    ret 0, 2

background:
    push_string "background"
    call log_text
    ret 0, 2

tick:                                   ; application, return address
    push_string "tick"                  ; the script delivers a key press here
    call log_text
    push_local -2
    field_addr 1
    deref
    native 33, 2                        ; the only timer goes
    push_string "tick ends"
    call log_text
    ret 0, 2

log_key:                                ; key event, return address
    push_local -2
    native 35, 1                        ; KeyEvent: the key code
    call log_int
    push_local -2
    native 35, 4                        ; the text
    call log_text
    push_local -2
    native 35, 3                        ; the scan code
    call log_int
    push_local -2
    native 35, 2                        ; the modifiers
    call log_int
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
