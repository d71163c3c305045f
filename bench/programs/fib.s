; Recursive Fibonacci with static calls: fib(32). The result becomes the application object
; (in a plain one-word object), where the benchmark checks it.
.exports
.export "main" code=main method=main

.methods
.method main
.method fib args=1

.code
main:
    push_int 32
    call fib
    wrap
    native 32, 5
    ret 0, 1

fib:                            ; n, return address; leaves fib(n) in n's slot
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
