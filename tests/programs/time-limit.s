; A timer that never stops keeps the application running until the time limit.
.identifier "zentu-test-timelimit"

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
    push_int 5
    native 33, 1
    adjust_stack -1
    ret 0, 1

tick:
    ret 0, 2
