; An error in an application without vminternalthrow cannot become an exception: the run
; ends, and the explanation gives the error that could not be delivered.
.identifier "zentu-test-nointthrw"

.exports
.export "main" code=main method=main

.methods
.method main

.code
main:
    push_int 0
    deref
    ret 0, 1
