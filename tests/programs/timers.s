; Timers: ids from 10 on and never reused, repetition until removal, removal of an unknown or
; already removed id, delay updates, negative delays, and the pinned listener, which is the
; only thing that keeps each ticker alive between the calls.
.identifier "zentu-test-timers001"

.exports
.export "main" code=main method=main
.export "vminternalthrow<int>,<*string>" code=internal_throw method=internal_throw

.virtuals
.virtual "<*systemtimerlistener>.systemtimerevent"
.entry type=Ticker code=tick method=tick

.types
; field 1: timer id, field 2: expiries so far, field 3: text to log, field 4: stage (1 to 3)
.type Ticker refs=[3]
.type Failure refs=[2]

.methods
.method main
.method internal_throw args=2 c=[1]
.method report args=1 c=[0]
.method start_ticker args=3 c=[0]
.method tick args=1 c=[0]
.method stage_a args=1 c=[0]
.method stage_b args=1 c=[0]
.method stage_c args=1 c=[0]
.method churn
.method log_text args=1 c=[0]
.method log_int args=1

.code
main:
    push_handler -1, null_listener
    push_int 0
    push_int 5
    native 33, 1                        ; a null listener is refused before a timer exists
null_listener:
    call report
    push_int -3
    native 33, 2                        ; ids below 10 name no timer
    push_int 10
    push_int 5
    native 33, 3                        ; no timer has id 10 yet
    push_string "A alive"
    push_int 1
    push_int 1
    call start_ticker                   ; stage 1, every millisecond
    ret 0, 1

start_ticker:                           ; text, stage, delay, return address; logs the id
    new_object 1, 5
    dup
    store_type Ticker
    dup
    field_addr 3
    push_local -6                       ; the text
    store
    dup
    field_addr 4
    push_local -5                       ; the stage
    store
    dup
    field_addr 1
    push_local -2                       ; the listener
    push_local -5                       ; the delay
    native 33, 1
    dup
    call log_int
    store                               ; field 1: the id
    adjust_stack -1
    ret 0, 4

tick:                                   ; ticker, return address
    push_local -2
    field_addr 3
    deref
    call log_text                       ; only a pinned listener still has its text
    push_local -2
    field_addr 2
    inc_cell
    push_local -2
    field_addr 4
    deref
    push_int 1
    eq
    jump_if_false tick_b
    push_local -2
    call stage_a
    ret 0, 2
tick_b:
    push_local -2
    field_addr 4
    deref
    push_int 2
    eq
    jump_if_false tick_c
    push_local -2
    call stage_b
    ret 0, 2
tick_c:
    push_local -2
    call stage_c
    ret 0, 2

stage_a:                                ; ticker, return address
    push_local -2
    field_addr 2
    deref
    push_int 1
    eq
    jump_if_false a_later
    call churn                          ; takes up whatever memory a collection freed
    push_local -2
    field_addr 1
    deref
    push_int -5
    native 33, 3                        ; a negative delay becomes 0
    ret 0, 2
a_later:
    push_local -2
    field_addr 2
    deref
    push_int 3
    eq
    jump_if_false a_done
    push_local -2
    field_addr 1
    deref
    dup
    native 33, 2                        ; removed after the third expiry
    native 33, 2                        ; a second time: nothing
    push_string "A removed"
    call log_text
    push_string "B alive"
    push_int 2
    push_int 0
    call start_ticker                   ; the next id
a_done:
    ret 0, 2

stage_b:
    push_local -2
    field_addr 2
    deref
    push_int 2
    eq
    jump_if_false b_done
    push_local -2
    field_addr 1
    deref
    native 33, 2
    push_string "B removed"
    call log_text
    push_string "C alive"
    push_int 3
    push_int -7                         ; a negative delay at creation counts as 0
    call start_ticker
b_done:
    ret 0, 2

stage_c:
    push_local -2
    field_addr 1
    deref
    native 33, 2                        ; the last timer: the run ends
    push_string "C removed"
    call log_text
    ret 0, 2

churn:                                  ; return address
    push_int 300
churn_loop:
    push_local -1
    jump_if_false churn_done
    new_object 2, 5
    adjust_stack -1
    push_string "garbage garbage garbage"
    adjust_stack -1
    push_local_addr -1
    dec_cell
    jump churn_loop
churn_done:
    adjust_stack -1
    ret 0, 1

report:                                 ; failure, return address: logs the text
    push_local -2
    field_addr 2
    deref
    call log_text
    ret 0, 2

internal_throw:                         ; code, text, return address
    new_object 1, 3
    dup
    store_type Failure
    dup
    field_addr 1
    push_local -5
    store
    dup
    field_addr 2
    push_local -4
    store
    throw_object

log_text:
    push_local -2
    native 30, 1
    ret 0, 2

log_int:
    push_local -2
    int_to_string
    native 30, 1
    ret 0, 2
