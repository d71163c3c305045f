; Function numbers a group does not define, group 2, groups whose library is not there yet and
; null arguments raise errors that the application catches through vminternalthrow. The
; unknown-function text is the group's prefix followed by the position of the native call's
; last operand byte.
.identifier "zentu-test-natives01"

.exports
.export "main" code=main method=main
; The "*" makes the text arrive as a string value the Debug: natives can log.
.export "vminternalthrow<int>,<*string>" code=internal_throw method=internal_throw

.types
.type Failure refs=[2]                  ; field 1: the error code, field 2: the text

.methods
.method main
.method internal_throw args=2 c=[1]
.method report args=1 c=[0]

.code
main:
    push_handler -1, system0
    native 32, 0
system0:
    call report
    push_handler -1, system9            ; the top is no time spec: code 6
    native 32, 9
system9:
    call report
    push_handler -1, system17
    native 32, 17
system17:
    call report
    push_handler -1, system18
    native 32, 18
system18:
    call report
    push_handler -1, system19
    native 32, 19
system19:
    call report
    push_handler -1, system16
    native 32, 16
system16:
    call report
    push_handler -1, system_minus1
    native 32, -1
system_minus1:
    call report
    push_handler -1, debug0
    native 30, 0
debug0:
    call report
    push_handler -1, debug4
    native 30, 4
debug4:
    call report
    push_handler -1, timer0
    native 33, 0
timer0:
    call report
    push_handler -1, timer4
    native 33, 4
timer4:
    call report
    push_handler -1, group2
    native 2, 1
group2:
    call report
    push_handler -1, byte1              ; Byte: defines no function
    native 9, 1
byte1:
    call report
    push_handler -1, screen100
    native 31, 100
screen100:
    call report
    push_handler -1, keyevent5
    native 35, 5
keyevent5:
    call report
    push_handler -1, null_log
    push_int 0
    native 30, 1                        ; Debug: 1 with a null string
null_log:
    call report
    push_handler -1, null_request
    push_int 0
    native 32, 2                        ; System: 2 with a null string
null_request:
    call report
    push_handler -1, extension
    extension 21, 0                     ; no device extension without a device
extension:
    call report
    ret 0, 1

report:                                 ; failure, return address: logs the text
    push_local -2
    field_addr 2
    deref
    native 30, 1
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
