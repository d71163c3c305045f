; Every message of the graphics groups and what the functions give back: Color, Size,
; Position, Rectangle, Bitmap (with files from graphics-natives.before), Graphics on bitmaps,
; Font with the native font and a bitmap font, and Screen. Each block leaves the scratch
; variable (four words) on top of the stack; errors reach report through vminternalthrow.
.identifier "zentu-test-graphics1"

.exports
.export "main" code=main method=main
.export "vminternalthrow<int>,<*string>" code=internal_throw method=internal_throw

.types
.type Failure refs=[2]                  ; field 1: the error code, field 2: the text

.methods
.method main
.method internal_throw args=2 c=[1]
.method report args=1 c=[0]
.method log_text args=1 c=[0]
.method log_int args=1
.method log_pair args=2

.code
main:
    new_object 2, 4                     ; the scratch variable
    ; Color 3: (255, 0, 0, 255) is 0xFFFF0000
    push_local -1
    push_int 255
    push_int 0
    push_int 0
    push_int 255
    native 13, 3
    push_local -1
    deref
    call log_int
    ; Color 4, 7: red and alpha
    push_local -1
    native 13, 4
    call log_int
    push_local -1
    native 13, 7
    call log_int
    ; Color 3: alpha 256
    push_handler -1, L1
    push_local -1
    push_int 0
    push_int 0
    push_int 0
    push_int 256
    native 13, 3
L1:
    call report
    ; Color 3: red -1
    push_handler -1, L2
    push_local -1
    push_int -1
    push_int 0
    push_int 0
    push_int 0
    native 13, 3
L2:
    call report
    ; Color 10: blue 256
    push_handler -1, L3
    push_local -1
    push_int 256
    native 13, 10
L3:
    call report
    ; Color 9: green 0x12, the rest kept
    push_local -1
    push_int 18
    native 13, 9
    push_local -1
    deref
    call log_int
    ; Color 12, 13
    push_int 5
    push_int 5
    native 13, 12
    call log_int
    push_int 5
    push_int 5
    native 13, 13
    call log_int
    ; Color 23: brown
    native 13, 23
    call log_int
    ; Color 1: white
    push_local -1
    native 13, 1
    push_local -1
    deref
    call log_int
    ; Color 25: unknown
    push_handler -1, L4
    native 13, 25
L4:
    call report
    ; Size 3: width -1
    push_handler -1, L5
    push_local -1
    push_int -1
    push_int 4
    native 15, 3
L5:
    call report
    ; Size 3, 5: height 4
    push_local -1
    push_int 3
    push_int 4
    native 15, 3
    push_local -1
    native 15, 5
    call log_int
    ; Size 7: height -2
    push_handler -1, L6
    push_local -1
    push_int -2
    native 15, 7
L6:
    call report
    ; Size 9: equal sizes are not different
    push_int 1
    push_int 2
    push_int 1
    push_int 2
    native 15, 9
    call log_int
    ; Position 3, 4: x -3
    push_local -1
    push_int -3
    push_int -4
    native 16, 3
    push_local -1
    native 16, 4
    call log_int
    ; Position 10: unknown
    push_handler -1, L7
    native 16, 10
L7:
    call report
    ; Rectangle 3, 10, 11: right 19, bottom 27
    push_local -1
    push_int 10
    push_int 20
    push_int 9
    push_int 7
    native 17, 3
    push_local -1
    native 17, 10
    call log_int
    push_local -1
    native 17, 11
    call log_int
    ; Rectangle 18: right 5 left of x 10
    push_handler -1, L8
    push_local -1
    push_int 5
    native 17, 18
L8:
    call report
    ; Rectangle 8: the width is still 9
    push_local -1
    native 17, 8
    call log_int
    ; Rectangle 16: width -1
    push_handler -1, L9
    push_local -1
    push_int -1
    native 17, 16
L9:
    call report
    ; Rectangle 5: the size, height on top
    push_local -1
    native 17, 5
    call log_int
    call log_int
    ; Rectangle 22: unknown
    push_handler -1, L10
    native 17, 22
L10:
    call report
    ; Bitmap 1: width -1
    push_handler -1, L11
    new_object 14, 1
    push_int -1
    push_int 5
    push_int 0
    native 19, 1
L11:
    call report
    ; Bitmap 1: height -1
    push_handler -1, L12
    new_object 14, 1
    push_int 5
    push_int -1
    push_int 0
    native 19, 1
L12:
    call report
    ; Bitmap 1, 8: (0, 5) is an empty bitmap
    new_object 14, 1
    dup
    push_int 0
    push_int 5
    push_int 0
    native 19, 1
    native 19, 8
    call log_pair
    ; Bitmap 7: the empty bitmap
    push_handler -1, L13
    new_object 14, 1
    dup
    push_int 0
    push_int 5
    push_int 0
    native 19, 1
    push_int 0
    push_int 0
    native 19, 7
L13:
    call report
    ; Bitmap 9: the empty bitmap
    push_handler -1, L14
    new_object 14, 1
    dup
    push_int 0
    push_int 5
    push_int 0
    native 19, 1
    push_int 0
    push_int 0
    push_int 0
    native 19, 9
L14:
    call report
    ; Bitmap 2: a region beyond the source
    push_handler -1, L15
    new_object 14, 1
    new_object 14, 1
    dup
    push_int 10
    push_int 10
    push_int 0xFF112233
    native 19, 1
    push_int 5
    push_int 5
    push_int 6
    push_int 1
    native 19, 2
L15:
    call report
    ; Bitmap 2: a region of an empty source
    push_handler -1, L16
    new_object 14, 1
    new_object 14, 1
    dup
    push_int 0
    push_int 0
    push_int 0
    native 19, 1
    push_int 0
    push_int 0
    push_int 1
    push_int 1
    native 19, 2
L16:
    call report
    ; Bitmap 7: (10, 0) of 10 x 10
    push_handler -1, L17
    new_object 14, 1
    dup
    push_int 10
    push_int 10
    push_int 0
    native 19, 1
    push_int 10
    push_int 0
    native 19, 7
L17:
    call report
    ; Bitmap 7: the fill colour
    new_object 14, 1
    dup
    push_int 10
    push_int 10
    push_int 0xFF112233
    native 19, 1
    push_int 9
    push_int 9
    native 19, 7
    call log_int
    ; Bitmap 9, 7: a translucent pixel round trip
    new_object 14, 1
    dup
    push_int 2
    push_int 2
    push_int 0
    native 19, 1
    dup
    push_int 1
    push_int 1
    push_int 0x80FFFFFF
    native 19, 9
    push_int 1
    push_int 1
    native 19, 7
    call log_int
    ; Bitmap 12: 100 x 50 to 100 x 80
    new_object 14, 1
    dup
    push_int 100
    push_int 50
    push_int 0
    native 19, 1
    dup
    push_int 100
    push_int 80
    native 19, 12
    native 19, 8
    call log_pair
    ; Bitmap 10: to (0, 7) is empty
    new_object 14, 1
    dup
    push_int 4
    push_int 4
    push_int 0
    native 19, 1
    dup
    push_int 0
    push_int 7
    native 19, 10
    native 19, 8
    call log_pair
    ; Bitmap 11: an empty bitmap grows black
    new_object 14, 1
    dup
    push_int 0
    push_int 0
    push_int 0
    native 19, 1
    dup
    push_int 3
    push_int 2
    native 19, 11
    dup
    native 19, 8
    call log_pair
    push_int 2
    push_int 1
    native 19, 7
    call log_int
    ; Bitmap 13, 4: format 2 round trip
    new_object 14, 1
    dup
    new_object 14, 1
    dup
    push_int 3
    push_int 2
    push_int 0xFF336699
    native 19, 1
    push_int 2
    native 19, 13
    native 19, 4
    dup
    native 19, 8
    call log_pair
    push_int 2
    push_int 1
    native 19, 7
    call log_int
    ; Bitmap 13, 4: format 4 round trip
    new_object 14, 1
    dup
    new_object 14, 1
    dup
    push_int 3
    push_int 2
    push_int 0xFF336699
    native 19, 1
    push_int 4
    native 19, 13
    native 19, 4
    dup
    native 19, 8
    call log_pair
    push_int 2
    push_int 1
    native 19, 7
    call log_int
    ; Bitmap 13, 4: nothing encodes as GIF, so nothing loads
    push_handler -1, L18
    new_object 14, 1
    new_object 14, 1
    dup
    push_int 3
    push_int 2
    push_int 0
    native 19, 1
    push_int 3
    native 19, 13
    native 19, 4
L18:
    call report
    ; Bitmap 4: not an image
    push_handler -1, L19
    new_object 14, 1
    push_int 0
    push_string "not an image"
    native 28, 1
    native 19, 4
L19:
    call report
    ; Bitmap 4: an empty array
    push_handler -1, L20
    new_object 14, 1
    push_int 0
    push_string ""
    native 28, 1
    native 19, 4
L20:
    call report
    ; Bitmap 5: a range of 0 bytes
    push_handler -1, L21
    new_object 14, 1
    push_int 0
    push_string "abc"
    native 28, 1
    push_int 3
    push_int 0
    native 19, 5
L21:
    call report
    ; Bitmap 5: a range beyond the array
    push_handler -1, L22
    new_object 14, 1
    push_int 0
    push_string "abc"
    native 28, 1
    push_int 1
    push_int 5
    native 19, 5
L22:
    call report
    ; Bitmap 6: an unset source
    push_handler -1, L23
    new_object 14, 1
    new_object 14, 1
    native 19, 6
L23:
    call report
    ; Bitmap 8: a null reference
    push_handler -1, L24
    push_int 0
    native 19, 8
L24:
    call report
    ; Bitmap 3: no file name
    push_handler -1, L25
    new_object 14, 1
    push_string ""
    native 19, 3
L25:
    call report
    ; Bitmap 3: a null path
    push_handler -1, L26
    new_object 14, 1
    push_int 0
    native 19, 3
L26:
    call report
    ; Bitmap 3: an unset path
    push_handler -1, L27
    new_object 14, 1
    new_object 14, 1
    native 19, 3
L27:
    call report
    ; Bitmap 3: a missing file
    push_handler -1, L28
    new_object 14, 1
    push_string "missing.png"
    native 19, 3
L28:
    call report
    ; Bitmap 3: an empty file
    push_handler -1, L29
    new_object 14, 1
    push_string "empty.png"
    native 19, 3
L29:
    call report
    ; Bitmap 3: a file that is no image
    push_handler -1, L30
    new_object 14, 1
    push_string "text.png"
    native 19, 3
L30:
    call report
    ; Bitmap 3: picture.png, 3 x 2, its last pixel
    new_object 14, 1
    dup
    push_string "picture.png"
    native 19, 3
    dup
    native 19, 8
    call log_pair
    push_int 2
    push_int 1
    native 19, 7
    call log_int
    ; Bitmap 14: unknown
    push_handler -1, L31
    native 19, 14
L31:
    call report
    ; Graphics 1: a bitmap drawn on itself draws nothing
    new_object 14, 1
    dup
    push_int 4
    push_int 4
    push_int 0xFF0000FF
    native 19, 1
    dup
    dup
    push_int 1
    push_int 1
    push_int 255
    native 18, 1
    dup
    push_int 0
    push_int 0
    native 19, 7
    call log_int
    adjust_stack -1
    ; Graphics 8: alpha 0 on a bitmap makes it transparent
    new_object 14, 1
    dup
    push_int 4
    push_int 4
    push_int 0xFF0000FF
    native 19, 1
    dup
    push_int 0
    native 18, 8
    push_int 3
    push_int 3
    native 19, 7
    call log_int
    ; Graphics 4: fillRect covers (1, 1) to (2, 2)
    new_object 14, 1
    dup
    push_int 4
    push_int 4
    push_int 0
    native 19, 1
    dup
    push_int 1
    push_int 1
    push_int 2
    push_int 2
    push_int 0xFFFF0000
    native 18, 4
    dup
    push_int 2
    push_int 2
    native 19, 7
    call log_int
    push_int 3
    push_int 3
    native 19, 7
    call log_int
    ; Graphics 4: an unset canvas draws nothing
    new_object 14, 1
    push_int 0
    push_int 0
    push_int 5
    push_int 5
    push_int 0
    native 18, 4
    ; Graphics 4: a null canvas
    push_handler -1, L32
    push_int 0
    push_int 0
    push_int 0
    push_int 5
    push_int 5
    push_int 0
    native 18, 4
L32:
    call report
    ; Graphics 9: a null string
    push_handler -1, L33
    new_object 14, 1
    push_string "a"
    push_int 0
    new_object 14, 1
    push_int 0
    native 18, 9
L33:
    call report
    ; Graphics 9: four references
    new_object 14, 1
    push_string "a"
    push_string "b"
    new_object 14, 1
    push_int 0
    native 18, 9
    ; Graphics 3: a range beyond the text
    push_handler -1, L34
    new_object 14, 1
    dup
    push_int 4
    push_int 4
    push_int 0
    native 19, 1
    push_string "ab"
    push_int 1
    push_int 5
    push_int 0
    push_int 0
    push_int 0
    new_object 14, 1
    native 18, 3
L34:
    call report
    ; Graphics 8: a canvas of type id 7
    push_handler -1, L35
    new_object 16, 3
    dup
    push_int 7
    store
    box
    push_int 0
    native 18, 8
L35:
    call report
    ; Bitmap 8: a screen handle
    push_handler -1, L36
    new_object 16, 3
    dup
    push_int 1
    store
    box
    native 19, 8
L36:
    call report
    ; Graphics 1: a screen handle as the bitmap
    push_handler -1, L37
    new_object 14, 1
    dup
    push_int 2
    push_int 2
    push_int 0
    native 19, 1
    new_object 16, 3
    dup
    push_int 1
    store
    box
    push_int 0
    push_int 0
    push_int 255
    native 18, 1
L37:
    call report
    ; Graphics 6: an empty source tiles nothing, with a warning
    new_object 14, 1
    dup
    push_int 4
    push_int 4
    push_int 0
    native 19, 1
    new_object 14, 1
    dup
    push_int 0
    push_int 0
    push_int 0
    native 19, 1
    push_int 0
    push_int 0
    push_int 4
    push_int 4
    push_int 0
    push_int 0
    push_int 255
    native 18, 6
    ; Graphics 10: an empty source is drawn as nothing, with a warning
    new_object 14, 1
    dup
    push_int 4
    push_int 4
    push_int 0
    native 19, 1
    new_object 14, 1
    dup
    push_int 0
    push_int 0
    push_int 0
    native 19, 1
    push_int 2
    push_int 2
    push_int 0
    push_int 0
    push_int 0
    push_int 1
    push_int 0
    push_int 1
    push_int 255
    native 18, 10
    ; Graphics 11: unknown
    push_handler -1, L38
    native 18, 11
L38:
    call report
    ; Font 6: an unset font measures 0
    new_object 14, 1
    push_string "abc"
    push_int 100
    native 20, 6
    call log_int
    ; System 10: the native font has a height and measures text
    native 32, 10
    dup
    native 20, 2
    push_int 0
    gt
    call log_int
    push_string "Hi"
    native 20, 4
    push_int 0
    gt
    call log_int
    ; System 12: an empty array
    push_handler -1, L39
    push_int 0
    push_string ""
    native 28, 1
    native 32, 12
L39:
    call report
    ; System 12: not an image
    push_handler -1, L40
    push_int 0
    push_string "no image"
    native 28, 1
    native 32, 12
L40:
    call report
    ; System 11: a null path
    push_handler -1, L41
    push_int 0
    native 32, 11
L41:
    call report
    ; System 11: a missing file
    push_handler -1, L42
    push_string "missing.png"
    native 32, 11
L42:
    call report
    ; System 11: a file that is no image
    push_handler -1, L43
    push_string "text.png"
    native 32, 11
L43:
    call report
    ; System 11 and Font 2 to 7 on font.png: glyphs ' ' 2, '!' 3 wide, 4 high, ascent 3
    push_string "font.png"
    native 32, 11
    dup
    native 20, 2
    call log_int
    dup
    native 20, 3
    call log_int
    dup
    push_string " !!\"x"
    native 20, 4
    call log_int
    dup
    push_string " !!\"x"
    push_int 1
    push_int 2
    native 20, 5
    call log_int
    dup
    push_string " !!\"x"
    push_int 5
    native 20, 6
    call log_int
    push_string " !!\"x"
    push_int 1
    push_int -1
    push_int 4
    native 20, 7
    call log_int
    ; Font 5: a range beyond the text
    push_handler -1, L44
    push_string "font.png"
    native 32, 11
    push_string "ab"
    push_int 3
    push_int 1
    native 20, 5
L44:
    call report
    ; Font 2: a null font
    push_handler -1, L45
    push_int 0
    native 20, 2
L45:
    call report
    ; Font 1: unknown
    push_handler -1, L46
    native 20, 1
L46:
    call report
    ; Screen 2, 4: landscape
    native 31, 2
    call log_pair
    native 31, 4
    call log_int
    ; Screen 3: portrait, then back
    push_int 1
    native 31, 3
    native 31, 2
    call log_pair
    native 31, 4
    call log_int
    push_int 2
    native 31, 3
    ; Screen 1, 5 to 8: requests and hints
    native 31, 1
    push_int 0
    push_int 0
    push_int 10
    push_int 10
    native 31, 6
    push_int 1
    native 31, 5
    new_object 14, 1
    dup
    native 31, 7
    native 31, 8
    adjust_stack -1
    ret 0, 1

report:                                 ; failure, return address: logs the text
    push_local -2
    field_addr 2
    deref
    native 30, 1
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

log_pair:                               ; first, second, return address
    push_local -3
    call log_int
    push_local -2
    call log_int
    ret 0, 3

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
