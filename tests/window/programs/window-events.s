; What the window test needs from an application: it logs the host events it receives and
; acts on keys. The picture is a background (field 1 of the application) with a red and a
; yellow block, drawn the same way whatever the canvas size.
;   P portrait, L landscape (each logs its name after the request)
;   R a new background, shown only through a repaint of the rectangle (40, 120, 200, 300)
;   X the exit call, Q the exit request, F the machine's fatal error
.identifier "zentu-test-winevents"

.exports
.export "main" code=main method=main
.export "vminternalthrow<int>,<*string>" code=internal_throw method=internal_throw

.virtuals
.virtual "<*application>.draw to<*canvas>"
.entry type=Application code=draw method=draw
.virtual "<*application>.key pressed<keyevent>"
.entry type=Application code=key_pressed method=key_pressed
.virtual "<*application>.pointer event<int>at x<int>y<int>modifiers<int>"
.entry type=Application code=pointer method=pointer
.virtual "<*application>.foreground event"
.entry type=Application code=foreground method=foreground
.virtual "<*application>.background event"
.entry type=Application code=background method=background

.types
.type Application
.type Failure refs=[2]

.methods
.method main
.method draw args=2 c=[0, 1]
.method key_pressed args=2 c=[0, 1]
.method pointer args=5 c=[0]
.method foreground args=1 c=[0]
.method background args=1 c=[0]
.method append_int args=2 c=[0]
.method log_text args=1 c=[0]
.method internal_throw args=2 c=[1]

.code
main:
    new_object 1, 2
    dup
    store_type Application
    dup
    field_addr 1
    push_int 0xFF000080                 ; navy
    store
    native 32, 5
    push_string "main"
    call log_text
    ret 0, 1

draw:                                   ; application, canvas, return address
    push_local -2
    push_local -4
    field_addr 1
    deref
    native 18, 8                        ; Graphics: clear with the background
    push_local -2
    push_int 10
    push_int 10
    push_int 100
    push_int 50
    push_int 0xFFFF0000
    native 18, 4                        ; Graphics: fillRect, red
    push_local -2
    push_int 300
    push_int 100
    push_int 60
    push_int 600
    push_int 0xFFFFFF00
    native 18, 4                        ; Graphics: fillRect, yellow
    ret 0, 3

key_pressed:                            ; application, key event, return address
    push_local -2
    native 35, 1
    push_int 0x50
    eq
    jump_if_false not_portrait
    push_int 1
    native 31, 3                        ; Screen: portrait
    push_string "portrait"
    call log_text
    ret 0, 3
not_portrait:
    push_local -2
    native 35, 1
    push_int 0x4C
    eq
    jump_if_false not_landscape
    push_int 2
    native 31, 3                        ; Screen: landscape
    push_string "landscape"
    call log_text
    ret 0, 3
not_landscape:
    push_local -2
    native 35, 1
    push_int 0x52
    eq
    jump_if_false not_repaint
    push_local -3
    field_addr 1
    push_int 0xFF800000                 ; maroon
    store
    push_int 40
    push_int 120
    push_int 200
    push_int 300
    native 31, 6                        ; Screen: repaint a rectangle
    push_string "repaint"
    call log_text
    ret 0, 3
not_repaint:
    push_local -2
    native 35, 1
    push_int 0x58
    eq
    jump_if_false not_exit
    native 32, 1                        ; System: exit
not_exit:
    push_local -2
    native 35, 1
    push_int 0x51
    eq
    jump_if_false not_quit
    push_string "quit"
    native 32, 2                        ; System: a request, which ends with the exit code
not_quit:
    push_local -2
    native 35, 1
    push_int 0x46
    eq
    jump_if_false not_fatal
    native 0, 1                         ; the fatal error
not_fatal:
    ret 0, 3

pointer:                                ; application, kind, x, y, modifiers, return address
    push_string "pointer"
    push_local -6
    call append_int
    push_local -5
    call append_int
    push_local -4
    call append_int
    push_local -3
    call append_int
    call log_text
    ret 0, 6

foreground:
    push_string "foreground"
    call log_text
    ret 0, 2

background:
    push_string "background"
    call log_text
    ret 0, 2

append_int:                             ; text, n, return address; leaves text " " n
    push_local_addr -3
    push_local -4
    push_string " "
    native 8, 48                        ; String: concatenate
    push_local -4
    int_to_string
    native 8, 48
    store
    ret 0, 2

log_text:
    push_local -2
    native 30, 1
    ret 0, 2

internal_throw:                         ; code, text, return address: logs the text and throws
    push_local -2
    call log_text
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
