; A loop that never ends stops once the instruction budget is spent; the internal throw
; that an application installs does not see it.
.identifier "zentu-test-budgetlop"

.exports
.export "main" code=main method=main
.export "vminternalthrow<int>,<*string>" code=internal_throw method=internal_throw

.methods
.method main
.method internal_throw args=2

.code
main:
    push_string "start"
    native 30, 1
    push_int 0
again:
    push_local_addr 0
    inc_cell
    jump again

internal_throw:
    push_string "caught"
    native 30, 1
    ret 2, 0
