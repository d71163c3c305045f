; The budget holds over the whole run: a timer that never stops ends once the ticks have
; spent it, well before the time limit.
.identifier "zentu-test-budgettim"

.exports
.export "main" code=main method=main

.virtuals
.virtual "<*systemtimerlistener>.systemtimerevent"
.entry type=Listener code=tick method=tick

.types
.type Listener

.methods
.method main
.method tick args=1 c=[0]

.code
main:
    new_object 1, 1
    dup
    store_type Listener
    push_int 1
    native 33, 1
    adjust_stack -1
    ret 0, 1

tick:
    push_string "tick"
    native 30, 1
    ret 0, 2
