; DateTime: and System: 9 as applications see them, in Helsinki time: creating, copying,
; adding across the spring change, the fields, the setters, zone conversion, the text form,
; identity and comparison, and every error text.
.identifier "zentu-test-datetime1"

.exports
.export "main" code=main method=main
.export "vminternalthrow<int>,<*string>" code=internal_throw method=internal_throw

.types
.type Failure refs=[2]                  ; field 1: the error code, field 2: the text

.methods
.method main
.method internal_throw args=2 c=[1]
.method report args=1 c=[0]
.method log_int args=1
.method log_text args=1 c=[0]
.method create_errors
.method setter_errors
.method unset_and_unknown

.code
main:                                   ; ret
    push_int 0
    box                                 ; ret, A
    push_local -1
    push_int 31
    push_int 12
    push_int 2009
    push_int 23
    push_int 59
    push_int 59
    push_int 0
    native 29, 4                        ; A = 2009-12-31 23:59:59 local
    push_local -1
    call log_text
    push_local -1
    push_int 0
    push_int 0
    push_int 0
    push_int 1
    native 29, 5                        ; + 1 s
    push_local -1
    call log_text                       ; 2010-01-01 00:00:00
    push_local -1
    native 29, 7
    call log_int                        ; day 1
    push_local -1
    native 29, 8
    call log_int                        ; month 1
    push_local -1
    native 29, 9
    call log_int                        ; year 2010
    push_local -1
    native 29, 10
    call log_int                        ; hour 0
    push_local -1
    native 29, 11
    call log_int                        ; minute 0
    push_local -1
    native 29, 12
    call log_int                        ; second 0
    push_local -1
    native 29, 13
    call log_int                        ; timezone 0

    push_local -1
    push_int 28
    native 29, 14
    push_local -1
    push_int 3
    native 29, 15
    push_local -1
    push_int 2021
    native 29, 16
    push_local -1
    push_int 2
    native 29, 17
    push_local -1
    push_int 30
    native 29, 18
    push_local -1
    push_int 15
    native 29, 19
    push_local -1
    call log_text                       ; 2021-03-28 02:30:15
    push_local -1
    push_int 0
    push_int 1
    push_int 0
    push_int 0
    native 29, 5                        ; + 1 h across the spring change
    push_local -1
    call log_text                       ; 04:30:15
    push_local -1
    push_int 1
    push_int 0
    push_int 0
    push_int 0
    native 29, 6                        ; - 1 day
    push_local -1
    call log_text                       ; 2021-03-27 03:30:15 (a day of 24 hours before)
    push_local -1
    push_int 30000
    push_int 0
    push_int 0
    push_int 0
    native 29, 5                        ; beyond 2^31 seconds
    push_local -1
    call log_text                       ; 2103-05-25 ...
    push_local -1
    push_int 30000
    push_int 0
    push_int 0
    push_int 0
    native 29, 6
    push_local -1
    call log_text                       ; back to 2021-03-27 03:30:15

    push_int 0
    box                                 ; ret, A, B
    push_local -1
    push_local -3
    native 29, 2                        ; B = copy of A
    push_local -1
    push_int 1
    native 29, 20                       ; B in UTC
    push_local -1
    call log_text                       ; 2021-03-27 01:30:15Z
    push_local -1
    native 29, 13
    call log_int                        ; 1
    push_local -2
    push_local -2
    native 29, 24
    call log_int                        ; the same instant: 1
    push_local -2
    push_local -2
    native 29, 25
    call log_int                        ; 0
    push_local -2
    push_local -2
    native 29, 22
    call log_int                        ; different objects: 0
    push_local -2
    push_local -2
    native 29, 23
    call log_int                        ; 1
    push_local -2
    push_local -3
    native 29, 22
    call log_int                        ; the same: 1
    push_local -1
    push_int 1
    native 29, 20                       ; the same zone: nothing
    push_local -1
    push_int 0
    push_int 0
    push_int 0
    push_int 1
    native 29, 5                        ; B one second later
    push_local -2
    push_local -2
    native 29, 26
    call log_int                        ; A < B: 1
    push_local -2
    push_local -2
    native 29, 27
    call log_int                        ; A <= B: 1
    push_local -2
    push_local -2
    native 29, 28
    call log_int                        ; A > B: 0
    push_local -2
    push_local -2
    native 29, 29
    call log_int                        ; A >= B: 0
    push_local -1
    push_local -3
    native 29, 29
    call log_int                        ; B >= A: 1
    push_local -1
    push_int 0
    native 29, 20                       ; back to local time
    push_local -1
    call log_text                       ; 2021-03-27 03:30:16

    push_local -1
    push_int 30
    push_int 4
    push_int 2021
    push_int 12
    push_int 0
    push_int 0
    push_int 0
    native 29, 4
    push_local -1
    push_int 31
    native 29, 14                       ; 31 April rolls over
    push_local -1
    call log_text                       ; 2021-05-01 12:00:00
    push_local -1
    push_int 7
    push_int 1
    push_int 7
    push_int 9
    push_int 5
    push_int 0
    push_int 1
    native 29, 4
    push_local -1
    call log_text                       ; 0007-01-07 09:05:00Z

    push_local -1
    native 29, 1                        ; now
    push_local -1
    native 29, 13
    call log_int                        ; 0
    push_local -1
    native 29, 9
    push_int 2025
    ge
    call log_int                        ; -1: this year or later
    push_local -2
    push_local -2
    native 29, 3                        ; A = copy of B, by the other number
    push_local -2
    push_local -2
    native 29, 24
    call log_int                        ; 1
    adjust_stack -2

    push_int 1
    native 32, 9                        ; now in UTC, in a new box
    push_local -1
    native 29, 13
    call log_int                        ; 1
    push_int 0
    native 32, 9
    push_local -1
    native 29, 13
    call log_int                        ; 0
    push_local -2
    push_local -2
    native 29, 27
    call log_int                        ; UTC now <= local now: 1
    adjust_stack -2
    push_handler -1, system9_bad
    push_int 2
    native 32, 9
system9_bad:
    call report

    call create_errors
    call setter_errors
    call unset_and_unknown
    ret 0, 1

create_errors:                          ; ret
    push_int 0
    box
    push_handler -1, bad_year
    push_local -1
    push_int 1
    push_int 13
    push_int 10000
    push_int 0
    push_int 0
    push_int 0
    push_int 0
    native 29, 4
bad_year:
    call report
    push_handler -1, bad_month
    push_local -1
    push_int 1
    push_int 13
    push_int 2000
    push_int 0
    push_int 0
    push_int 0
    push_int 0
    native 29, 4
bad_month:
    call report
    push_handler -1, bad_day
    push_local -1
    push_int 32
    push_int 1
    push_int 2000
    push_int 0
    push_int 0
    push_int 0
    push_int 0
    native 29, 4
bad_day:
    call report
    push_handler -1, bad_hour
    push_local -1
    push_int 1
    push_int 1
    push_int 2000
    push_int 24
    push_int 0
    push_int 0
    push_int 0
    native 29, 4
bad_hour:
    call report
    push_handler -1, bad_minute
    push_local -1
    push_int 1
    push_int 1
    push_int 2000
    push_int 0
    push_int -1
    push_int 0
    push_int 0
    native 29, 4
bad_minute:
    call report
    push_handler -1, bad_second
    push_local -1
    push_int 1
    push_int 1
    push_int 2000
    push_int 0
    push_int 0
    push_int 60
    push_int 0
    native 29, 4
bad_second:
    call report
    push_handler -1, bad_zone
    push_local -1
    push_int 1
    push_int 1
    push_int 2000
    push_int 0
    push_int 0
    push_int 0
    push_int 2
    native 29, 4
bad_zone:
    call report
    push_local -1
    push_local -2
    native 29, 23                       ; the box compared with itself
    call log_int                        ; 0
    adjust_stack -1
    ret 0, 1

setter_errors:                          ; ret
    push_int 0
    box
    push_local -1
    push_int 7
    push_int 3
    push_int 2010
    push_int 9
    push_int 5
    push_int 0
    push_int 0
    native 29, 4
    push_handler -1, set_day
    push_local -1
    push_int 0
    native 29, 14
set_day:
    call report
    push_handler -1, set_month
    push_local -1
    push_int 13
    native 29, 15
set_month:
    call report
    push_handler -1, set_year
    push_local -1
    push_int -1
    native 29, 16
set_year:
    call report
    push_handler -1, set_hour
    push_local -1
    push_int 24
    native 29, 17
set_hour:
    call report
    push_handler -1, set_minute
    push_local -1
    push_int 60
    native 29, 18
set_minute:
    call report
    push_handler -1, set_second
    push_local -1
    push_int -1
    native 29, 19
set_second:
    call report
    push_handler -1, set_zone
    push_local -1
    push_int 2
    native 29, 20
set_zone:
    call report
    push_local -1
    call log_text                       ; unchanged: 2010-03-07 09:05:00
    adjust_stack -1
    ret 0, 1

unset_and_unknown:                      ; ret
    push_int 0
    box                                 ; an unset date-time
    push_handler -1, unset_day
    push_local -1
    native 29, 7
unset_day:
    call report
    push_handler -1, unset_add
    push_local -1
    push_int 1
    push_int 0
    push_int 0
    push_int 0
    native 29, 5
unset_add:
    call report
    push_handler -1, unset_copy
    push_local -1
    push_local -2
    native 29, 2
unset_copy:
    call report
    push_handler -1, unset_compare
    push_local -1
    push_local -2
    native 29, 24
unset_compare:
    call report
    push_handler -1, null_text
    push_int 0
    native 29, 21
null_text:
    call report
    push_handler -1, unknown0
    native 29, 0
unknown0:
    call report
    push_handler -1, unknown30
    native 29, 30
unknown30:
    call report
    adjust_stack -1
    ret 0, 1

report:                                 ; failure, return address: logs the text
    push_local -2
    field_addr 2
    deref
    native 30, 1
    ret 0, 2

log_int:                                ; number, return address
    push_local -2
    int_to_string
    native 30, 1
    ret 0, 2

log_text:                               ; date-time, return address: logs its text form
    push_local -2
    native 29, 21
    native 30, 1
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
