; An image without "main": the explanation names what is missing.
.identifier "zentu-test-nomain002"

.exports
.export "start" code=start method=start

.methods
.method start

.code
start:
    ret 0, 1
