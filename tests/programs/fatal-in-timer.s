; A timer's call can end the application like any other entry call.
.identifier "zentu-test-timerfatl"

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
    native 33, 1                ; a timer of 1 ms; its id stays on the stack
    adjust_stack -1
    ret 0, 1

tick:                           ; listener, return address
    push_string "tick"
    native 30, 1
    native 0, 1                 ; fatal: the run ends
    push_string "after"
    native 30, 1
    ret 0, 2
