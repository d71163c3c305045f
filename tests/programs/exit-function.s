; System: 1 ends the application at once with exit status 0.
.identifier "zentu-test-exitfunc1"

.exports
.export "main" code=main method=main

.methods
.method main

.code
main:
    push_string "before"
    native 30, 1
    native 32, 1
    push_string "after"
    native 30, 1
    ret 0, 1
