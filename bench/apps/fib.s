; Recursive Fibonacci, fib(31) in two styles: an early return for the small cases, and a local
; result that the recursive case overwrites. The sum goes to the log.
.exports
.export "main" code=main method=main

.methods
.method main
.method fib args=1
.method fib2 args=1 locals=1

.code
main:                           ; return address
    push_int 31
    call fib
    push_int 31
    call fib2
    add
    int_to_string
    native 30, 1
    ret 0, 1

fib:                            ; n, return address: if n < 2 return n; return fib(n-1) + fib(n-2)
    push_local -2
    push_int 2
    lt
    jump_if_false recurse
    ret 0, 1
recurse:
    push_local_addr -2
    push_local -3
    push_int 1
    sub
    call fib
    push_local -4
    push_int 2
    sub
    call fib
    add
    store
    ret 0, 1

fib2:                           ; n, return address: r = n; if n > 1 r = fib2(n-2) + fib2(n-1)
    push_local -2               ; r
    push_local -3
    push_int 1
    gt
    jump_if_false fib2_done
    push_local_addr -1          ; &r
    push_local -4
    push_int 2
    sub
    call fib2
    push_local -5
    push_int 1
    sub
    call fib2
    add
    store
fib2_done:
    push_local_addr -3          ; n = r: the result takes the argument's slot
    push_local -2
    store
    adjust_stack -1
    ret 0, 1
