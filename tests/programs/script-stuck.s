; The event script waits for a log line that never comes.
.identifier "zentu-test-stuck0001"

.exports
.export "main" code=main method=main

.methods
.method main

.code
main:
    push_string "started"
    native 30, 1
    ret 0, 1
