; The bundled demo application. It shows what an application does with the runtime:
;   - draws every frame on the screen canvas: filled rectangles, lines, text in a bitmap font
;     (font.png) and a picture loaded from a file (sprite.png, the ball);
;   - the arrow keys move the ball, every key shows its text and code, and the square at the
;     right is lit while a key is held;
;   - a tap or a drag marks the place with a cross;
;   - a timer moves the yellow block along the strip at the bottom, 25 times a second, and
;     asks for a repaint of that strip only;
;   - "O", or a tap in the orange corner, turns the screen between landscape and portrait;
;   - "Q" ends the application.
; Built into build/examples/demo/index.mcb by zentu-asm; docs/ASSEMBLY.md describes the
; language. Calling conventions used here: arguments are pushed in order, the last on top;
; push_local -1 is the top slot, -2 the one below it, and so on, counted anew after every
; push. The draw_ methods leave their four arguments on the stack for the next one.
.identifier "zentu-demo-app-00001"

.exports
.export "main" code=main method=main
.export "vminternalthrow<int>,<*string>" code=internal_throw method=internal_throw

.virtuals
; The host's events, called on the application object (level 1: "<*application>").
.virtual "<*application>.draw to<*canvas>"
.entry type=Application code=draw method=draw
.virtual "<*application>.key pressed<keyevent>"
.entry type=Application code=key_pressed method=key_pressed
.virtual "<*application>.key released<keyevent>"
.entry type=Application code=key_released method=key_released
.virtual "<*application>.pointer event<int>at x<int>y<int>modifiers<int>"
.entry type=Application code=pointer method=pointer
; The timer calls this on its listener, which is the application object too.
.virtual "<*systemtimerlistener>.systemtimerevent"
.entry type=Application code=tick method=tick

.types
; The application object. Fields: 1 the font, 2 the ball's bitmap, 3 and 4 the ball's
; position, 5 the timer's step count, 6 the last key's text, 7 1 while a key is held,
; 8 and 9 the mark (y -1: none yet), 10 the timer id, 11 the last key's code.
.type Application refs=[1, 2, 6]
.type Failure refs=[2]

.methods
.method main
.method internal_throw args=2 c=[1]
.method draw args=2 c=[0, 1]
.method key_pressed args=2 c=[0, 1]
.method key_released args=2 c=[0, 1]
.method pointer args=5 c=[0]
.method tick args=1 c=[0]
.method turn
.method keep_in_view args=1 c=[0]
.method clamp args=3
.method draw_background args=4 c=[0, 1]
.method draw_key args=4 c=[0, 1]
.method draw_mark args=4 c=[0, 1]
.method draw_ball args=4 c=[0, 1]
.method draw_strip args=4 c=[0, 1]

.strings
.string title "Zentu demo"
.string help1 "Arrows move the ball, a tap marks."
.string help2 "O or the corner turns, Q quits."
.string key_label "Key:"
.string code_label "Code:"

.code
main:                                   ; return address
    new_object 1, 12                    ; the application object
    dup
    store_type Application
    dup
    field_addr 1
    push_string "font.png"
    native 32, 11                       ; System: a bitmap font from an image file
    store
    dup
    field_addr 2
    new_object 14, 1                    ; the box the bitmap goes into
    dup
    push_string "sprite.png"
    native 19, 3                        ; Bitmap: load the file into the box
    store
    dup
    field_addr 3
    push_int 376                        ; the ball starts in the middle of 800 x 480
    store
    dup
    field_addr 4
    push_int 216
    store
    dup
    field_addr 6
    push_string "none"
    store
    dup
    field_addr 9
    push_int -1                         ; no mark yet
    store
    dup
    field_addr 10
    push_local -2                       ; the listener: the application object
    push_int 40                         ; every 40 ms
    native 33, 1                        ; Timer: start, gives the id
    store
    native 32, 5                        ; System: this is the application object
    ret 0, 1

; ---- events ----

draw:                                   ; application, canvas, return address
    push_local -3                       ; the application
    push_local -3                       ; the canvas
    native 31, 2                        ; Screen: the canvas's width and height
    call draw_background
    call draw_key
    call draw_mark
    call draw_ball
    call draw_strip
    adjust_stack -4
    ret 0, 3

tick:                                   ; application, return address
    push_local -2
    field_addr 5
    inc_cell                            ; one step further
    native 31, 2                        ; width, height
    push_int 0                          ; repaint the strip: x 0,
    push_local -2
    push_int 70
    sub                                 ; y height - 70,
    push_local -4                       ; the whole width,
    push_int 50                         ; 50 rows
    native 31, 6                        ; Screen: repaint this rectangle
    adjust_stack -2
    ret 0, 2

key_pressed:                            ; application, key event, return address
    push_local -3
    field_addr 6
    push_local -3
    native 35, 4                        ; KeyEvent: the text the key gave
    store
    push_local -3
    field_addr 7
    push_int 1                          ; held
    store
    push_local -3
    field_addr 11
    push_local -3
    native 35, 1                        ; KeyEvent: the key code
    store
    push_local -2
    native 35, 1                        ; the key code again, for the tests below
    push_local -1
    push_int 0x01000003                 ; left
    eq
    jump_if_false not_left
    push_local -4
    field_addr 3
    push_int 16
    sub_cell
    jump key_done
not_left:
    push_local -1
    push_int 0x01000004                 ; right
    eq
    jump_if_false not_right
    push_local -4
    field_addr 3
    push_int 16
    add_cell
    jump key_done
not_right:
    push_local -1
    push_int 0x01000005                 ; up
    eq
    jump_if_false not_up
    push_local -4
    field_addr 4
    push_int 16
    sub_cell
    jump key_done
not_up:
    push_local -1
    push_int 0x01000006                 ; down
    eq
    jump_if_false not_down
    push_local -4
    field_addr 4
    push_int 16
    add_cell
    jump key_done
not_down:
    push_local -1
    push_int 0x4F                       ; O, upper or lower case
    eq
    jump_if_false not_o
    call turn
    jump key_done
not_o:
    push_local -1
    push_int 0x51                       ; Q
    eq
    jump_if_false key_done
    native 32, 1                        ; System: end the application
key_done:
    adjust_stack -1
    push_local -3
    call keep_in_view
    native 31, 1                        ; Screen: repaint everything
    ret 0, 3

key_released:                           ; application, key event, return address
    push_local -3
    field_addr 7
    store_zero
    native 31, 1
    ret 0, 3

; Kinds: 0 press, 1 release, 6 move with the button held. Positions are the window's: when
; the runtime turns the picture for portrait on a landscape screen, the application turns
; them back (canvas x = 479 - window y, canvas y = window x).
pointer:                                ; application, kind, x, y, modifiers, return address
    push_local -5
    push_int 1
    eq
    jump_if_false pointer_mark          ; a release marks nothing
    ret 0, 6
pointer_mark:
    native 31, 4                        ; Screen: the orientation
    push_int 1
    eq
    jump_if_false pointer_landscape
    push_int 479
    push_local -4                       ; y
    sub
    push_local -5                       ; x
    jump pointer_store
pointer_landscape:
    push_local -4                       ; x
    push_local -4                       ; y
pointer_store:                          ; ... return address, canvas x, canvas y
    push_local -8
    field_addr 9
    push_local -2
    store
    push_local -8
    field_addr 8
    push_local -3
    store
    push_local -7                       ; the kind
    jump_if_false pointer_press
    jump pointer_done
pointer_press:                          ; a press in the corner turns the screen
    native 31, 2                        ; ... canvas x, canvas y, width, height
    push_local -4
    push_local -3
    push_int 40
    sub
    ge                                  ; x >= width - 40
    push_local -4
    push_int 40
    lt                                  ; y < 40
    bool_and
    jump_if_false pointer_no_turn
    call turn
pointer_no_turn:
    adjust_stack -2
pointer_done:
    adjust_stack -2
    push_local -6
    call keep_in_view
    native 31, 1
    ret 0, 6

; ---- helpers ----

turn:                                   ; return address
    native 31, 4
    push_int 2
    eq
    jump_if_false turn_landscape
    push_int 1                          ; portrait: the canvas becomes 480 x 800
    native 31, 3                        ; Screen: set the orientation
    ret 0, 1
turn_landscape:
    push_int 2
    native 31, 3
    ret 0, 1

keep_in_view:                           ; application, return address: the ball stays visible
    native 31, 2
    push_local -4
    field_addr 3
    push_int 0
    push_local -4
    push_int 48
    sub
    call clamp                          ; 0 <= x <= width - 48
    push_local -4
    field_addr 4
    push_int 40
    push_local -3
    push_int 118
    sub
    call clamp                          ; 40 <= y <= height - 118, above the strip
    adjust_stack -2
    ret 0, 2

clamp:                                  ; cell address, low, high, return address
    push_local -4
    deref
    push_local -3
    gt
    jump_if_false clamp_low
    push_local -4
    push_local -3
    store
clamp_low:
    push_local -4
    deref
    push_local -4
    lt
    jump_if_false clamp_done
    push_local -4
    push_local -4
    store
clamp_done:
    ret 0, 4

; ---- drawing: each takes application, canvas, width, height ----

draw_background:
    push_local -4
    push_int 0xFF102040
    native 18, 8                        ; Graphics: clear the canvas, dark blue
    push_local -4
    push_int 0
    push_int 0
    push_local -6                       ; width
    push_int 40
    push_int 0xFF2E5C9A
    native 18, 4                        ; Graphics: fill a rectangle, the title bar
    push_local -4
    push_local -4
    push_int 40
    sub
    push_int 0
    push_int 40
    push_int 40
    push_int 0xFFF08020
    native 18, 4                        ; the orange corner
    push_local -4
    push_string "O"
    push_local -5
    push_int 27
    sub
    push_int 9
    push_int 0xFF301000
    push_local -10
    field_addr 1
    deref
    native 18, 2                        ; Graphics: a string at (x, y) in a colour and font
    push_local -4
    push_string title
    push_int 12
    push_int 9
    push_int 0xFFFFFFFF
    push_local -10
    field_addr 1
    deref
    native 18, 2
    push_local -4
    push_string help1
    push_int 12
    push_int 52
    push_int 0xFFB8C8E0
    push_local -10
    field_addr 1
    deref
    native 18, 2
    push_local -4
    push_string help2
    push_int 12
    push_int 76
    push_int 0xFFB8C8E0
    push_local -10
    field_addr 1
    deref
    native 18, 2
    ret 0, 1

draw_key:
    push_local -4
    push_string key_label
    push_int 12
    push_int 112
    push_int 0xFFFFFFFF
    push_local -10
    field_addr 1
    deref
    native 18, 2
    push_local -4
    push_local -6
    field_addr 6
    deref                               ; the key's text
    push_int 64
    push_int 112
    push_int 0xFFFFD040
    push_local -10
    field_addr 1
    deref
    native 18, 2
    push_local -4
    push_string code_label
    push_int 160
    push_int 112
    push_int 0xFFFFFFFF
    push_local -10
    field_addr 1
    deref
    native 18, 2
    push_local -4
    push_local -6
    field_addr 11
    deref
    int_to_string                       ; the key's code in decimal
    push_int 222
    push_int 112
    push_int 0xFFFFD040
    push_local -10
    field_addr 1
    deref
    native 18, 2
    push_local -4                       ; the square, lit while a key is held
    push_local -4
    push_int 52
    sub
    push_int 100
    push_int 40
    push_int 40
    push_local -10
    field_addr 7
    deref
    jump_if_false key_up
    push_int 0xFF30D050
    jump key_paint
key_up:
    push_int 0xFF485058
key_paint:
    native 18, 4
    ret 0, 1

draw_mark:
    push_local -5
    field_addr 9
    deref
    push_int 0
    lt
    jump_if_false mark_draw             ; no mark yet: nothing to draw
    ret 0, 1
mark_draw:
    push_local -5
    field_addr 8
    deref                               ; ... return address, mark x
    push_local -6
    field_addr 9
    deref                               ; ... return address, mark x, mark y
    push_local -6
    push_local -3
    push_int 12
    sub
    push_local -3
    push_local -5
    push_int 12
    add
    push_local -5
    push_int 0xFFFF4040
    native 18, 5                        ; Graphics: a line from (x, y) to (x, y)
    push_local -6
    push_local -3
    push_local -3
    push_int 12
    sub
    push_local -5
    push_local -5
    push_int 12
    add
    push_int 0xFFFF4040
    native 18, 5
    push_local -6
    push_local -3
    push_int 3
    sub
    push_local -3
    push_int 3
    sub
    push_int 7
    push_int 7
    push_int 0xFFFFFFFF
    native 18, 4
    adjust_stack -2
    ret 0, 1

draw_ball:
    push_local -4
    push_local -6
    field_addr 2
    deref                               ; the bitmap
    push_local -7
    field_addr 3
    deref
    push_local -8
    field_addr 4
    deref
    push_int 255                        ; opaque
    native 18, 1                        ; Graphics: draw a bitmap at (x, y)
    ret 0, 1

draw_strip:
    push_local -4
    push_int 0
    push_local -4
    push_int 70
    sub
    push_local -6
    push_int 50
    push_int 0xFF1C3462
    native 18, 4                        ; the strip
    push_local -4
    push_local -6
    field_addr 5
    deref
    push_int 6
    mul                                 ; 6 pixels a step,
    push_local -5
    push_int 40
    sub
    rem                                 ; round and round the strip
    push_local -4
    push_int 62
    sub
    push_int 40
    push_int 34
    push_int 0xFFFFD040
    native 18, 4                        ; the block
    ret 0, 1

; The machine turns errors of natives into exceptions through this method.
internal_throw:                         ; error code, text, return address
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
