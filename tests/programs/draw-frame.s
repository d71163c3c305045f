; A repaint through zentu-run's draw step: the screen canvas with a clear, a rectangle, lines
; and a bitmap at full and half opacity; then, in portrait, a second frame of 480 x 800 that
; keeps nothing of the landscape one. The key press asks for portrait orientation.
.identifier "zentu-test-drawframe"

.exports
.export "main" code=main method=main
.export "vminternalthrow<int>,<*string>" code=internal_throw method=internal_throw

.virtuals
.virtual "<*application>.draw to<*canvas>"
.entry type=Application code=draw method=draw
.virtual "<*application>.key pressed<keyevent>"
.entry type=Application code=key_pressed method=key_pressed

.types
.type Application
.type Failure refs=[2]

.methods
.method main
.method internal_throw args=2 c=[1]
.method draw args=2 c=[0, 1]
.method key_pressed args=2 c=[0, 1]

.code
main:
    new_object 1, 1
    dup
    store_type Application
    native 32, 5
    ret 0, 1

key_pressed:                            ; application, key event, return address
    push_int 1
    native 31, 3                        ; Screen: portrait
    ret 0, 3

draw:                                   ; application, canvas, return address
    new_object 14, 1                    ; the bitmap's box
    dup
    push_int 20
    push_int 20
    push_int 0xFF00FF00
    native 19, 1                        ; Bitmap: 20 x 20, green
    push_local -3
    push_int 0xFF000080
    native 18, 8                        ; Graphics: clear, navy
    push_local -3
    push_int 10
    push_int 10
    push_int 100
    push_int 50
    push_int 0xFFFF0000
    native 18, 4                        ; Graphics: fillRect, red
    push_local -3
    push_int 0
    push_int 200
    push_int 479
    push_int 200
    push_int 0xFFFFFFFF
    native 18, 5                        ; Graphics: a horizontal line
    push_local -3
    push_int 400
    push_int 0
    push_int 400
    push_int 479
    push_int 0xFFFFFF00
    native 18, 5                        ; Graphics: a vertical line
    push_local -3
    push_local -2
    push_int 200
    push_int 100
    push_int 255
    native 18, 1                        ; Graphics: the bitmap, opaque
    push_local -3
    push_local -2
    push_int 300
    push_int 100
    push_int 128
    native 18, 1                        ; Graphics: the bitmap at half strength
    adjust_stack -1
    ret 0, 3

internal_throw:
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
