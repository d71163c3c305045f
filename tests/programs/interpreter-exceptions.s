; Exceptions as an application sees them: a handler for a super class catches an instance of a
; subclass, a handler for a subclass lets its super class pass, errors of the machine arrive
; through vminternalthrow as exceptions of the application, an error inside a handler reaches
; the next handler out, a catch unwinds the calls it leaves, throwing null does nothing, and an
; exception nobody catches goes to vmprintthrowableandexit.
.identifier "zentu-test-except001"

.exports
.export "main" code=main method=main
.export "vminternalthrow<int>,<*string>" code=internal_throw method=internal_throw
.export "vmprintthrowableandexit<*throwable>" code=last_resort method=last_resort

.types
.type Failure refs=[2]                  ; field 1: the error code, field 2: the text
.type Base
.type Derived super=Base

.methods
.method main
.method internal_throw args=2 c=[1]
.method last_resort args=1 a=[0]
.method nested
.method thrower

.code
main:
    push_handler Base, caught_base
    push_handler Derived, wrong         ; a subclass handler does not match a Base
    new_object 1, 1
    dup
    store_type Base
    throw_object
wrong:
    push_string "wrong handler"
    native 30, 1
caught_base:
    adjust_stack -1
    push_string "Base caught by its own handler"
    native 30, 1

    push_handler Base, caught_derived
    call nested
    push_string "not reached"
    native 30, 1
caught_derived:                         ; the catch left nested and thrower behind
    adjust_stack -1
    push_string "Derived caught by the Base handler, two calls out"
    native 30, 1

    push_handler Failure, outer
    push_handler -1, inner
    push_int 1
    push_int 0
    div
inner:                                  ; the division's Failure: report it, then fail again
    field_addr 2
    deref
    native 30, 1
    push_int 0
    deref
outer:
    dup
    field_addr 1
    deref
    int_to_string
    native 30, 1
    field_addr 2
    deref
    native 30, 1

    push_int 0
    throw_object                        ; null: nothing happens
    adjust_stack -1
    push_string "after throwing null"
    native 30, 1

    new_object 1, 1
    dup
    store_type Derived
    throw_object
    push_string "not reached"
    native 30, 1
    ret 0, 1

nested:                                 ; return address
    call thrower
    ret 0, 1
thrower:
    new_object 1, 1
    dup
    store_type Derived
    throw_object

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

last_resort:                            ; throwable, return address
    push_string "uncaught"
    native 30, 1
    push_string "exit"
    native 32, 2
