; A native call to group 36, two calls deep, with ZENTU_EXPLAIN=1 in the environment: the
; explanation names the group and the frames as zentu-dis shows them: methods that no export
; names are "m" and their record's index.
.identifier "zentu-test-badgroup4"

.exports
.export "main" code=main method=main

.methods
.method main
.method outer
.method inner

.code
main:
    call outer
    ret 0, 1

outer:
    push_int 7
    call inner
    ret 0, 2

inner:
    native 36, 1
    ret 0, 1
