; Start-up and shut-down of an application whose main does nothing.
.exports
.export "main" code=main method=main

.methods
.method main

.code
main:
    ret 0, 1
