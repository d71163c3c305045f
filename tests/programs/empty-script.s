; An empty event script is a script with no steps: the application runs as without one.
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
