; An image without "main" cannot start: a fatal error before any code runs.
.identifier "zentu-test-nomain001"

.exports
.export "start" code=start method=start

.methods
.method start

.code
start:
    push_string "started"
    native 30, 1
    ret 0, 1
