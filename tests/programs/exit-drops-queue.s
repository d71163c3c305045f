; An application that exits leaves the events queued behind the running call unrun.
.identifier "zentu-test-exitqueue"

.exports
.export "main" code=main method=main

.virtuals
.virtual "<*application>.key pressed<keyevent>"
.entry type=Application code=key_pressed method=key_pressed

.types
.type Application

.methods
.method main
.method key_pressed args=2 c=[0, 1]

.code
main:
    new_object 1, 1
    dup
    store_type Application
    native 32, 5                ; the application object
    push_string "bye"           ; the script queues a key press here
    native 30, 1
    native 32, 1
    ret 0, 1

key_pressed:                    ; application, key event, return address
    push_string "key pressed"
    native 30, 1
    ret 0, 3
