; The bundled sample application: an application class with a draw method, and a main that
; creates the application object, logs a greeting and returns. Built into build/examples/hello/index.mcb by
; zentu-asm; docs/ASSEMBLY.md describes the language.

.identifier "zentu-sample-hello-1"

.exports
.export "main" code=main method=main

.virtuals
; The host calls it on every repaint with the application object and the canvas. The "*"
; after the first "<" makes the receiver a reference (level 1): the machine reads the
; receiver's type id through it.
.virtual draw "<*application>.draw to<canvas>"
.entry type=Application code=draw method=draw

.types
; Field 0 holds the class type id, field 1 the greeting.
.type Application refs=[1]

.methods
.method main
.method draw args=2 c=[0, 1]

.strings
.string greeting "Hello, world"
.string farewell "Grüße"

.code
main:
    new_object 1, 2             ; a class instance of two slots
    dup
    store_type Application      ; field 0: the class type id
    dup
    field_addr 1
    push_string greeting
    store                       ; field 1: "Hello, world"
    native 32, 5                ; System: make it the application object
    push_string greeting
    native 30, 1                ; Debug: log "Hello, world"
    ret 0, 1
draw:
    push_string farewell
    adjust_stack -1
    ret 0, 3                    ; drop the return address and both arguments
