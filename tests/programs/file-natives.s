; FileReader:, FileWriter:, InputStream:, OutputStream: and FileSystem: as applications see
; them: reading, seeking, writing, appending, the holders' states and kinds, the file system
; operations with their extra word, and every error text.
.identifier "zentu-test-files0001"

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
.method log_bytes args=1 c=[0]
.method reader_tests
.method writer_tests
.method kind_tests
.method file_system_tests
.method unknown_functions

.code
main:
    call reader_tests
    call writer_tests
    call kind_tests
    call file_system_tests
    call unknown_functions
    ret 0, 1

reader_tests:                           ; ret
    push_int 0
    box                                 ; ret, R: a reader never opened
    push_local -1
    native 23, 2                        ; unset: not open
    call log_int
    push_local -1
    native 23, 1                        ; closing an unset reader does nothing
    push_handler -1, unset_position
    push_local -1
    native 24, 3
unset_position:
    call report
    push_handler -1, unset_read
    push_local -1
    push_int 1
    native 23, 3
unset_read:
    call report
    push_handler -1, null_reader
    push_int 0
    native 24, 3
null_reader:
    call report

    push_local -1
    push_string "in.txt"
    native 24, 1                        ; open
    push_local -1
    native 23, 2
    call log_int                        ; -1
    push_local -1
    native 24, 4
    call log_int                        ; 12
    push_local -1
    push_int 5
    native 23, 3
    call log_bytes                      ; Hello
    push_local -1
    native 24, 3
    call log_int                        ; 5
    push_local -1
    push_int 7
    native 24, 2
    push_local -1
    push_int 5
    native 23, 3
    call log_bytes                      ; file!
    push_local -1
    push_int 0
    native 23, 3
    call log_bytes                      ; count 0 at the end: empty
    push_local -1
    push_int 12
    native 24, 2                        ; exactly the size
    push_handler -1, past_end
    push_local -1
    push_int 13
    native 24, 2
past_end:
    call report
    push_handler -1, negative_position
    push_local -1
    push_int -1
    native 24, 2
negative_position:
    call report
    push_handler -1, negative_count
    push_local -1
    push_int -1
    native 23, 3
negative_count:
    call report
    push_local -1
    push_int 0
    native 24, 2
    push_handler -1, read_past_end
    push_local -1
    push_int 13
    native 23, 3
read_past_end:
    call report
    push_local -1
    native 24, 3
    call log_int                        ; a failed read leaves the position: 0
    push_local -1
    native 23, 1                        ; close
    push_local -1
    native 23, 2
    call log_int                        ; 0
    push_local -1
    native 23, 1                        ; closing again does nothing
    push_handler -1, closed_read
    push_local -1
    push_int 0
    native 23, 3
closed_read:
    call report
    push_handler -1, closed_size
    push_local -1
    native 24, 4
closed_size:
    call report

    push_local -1
    push_string "dir\\a.txt"            ; backslash separators
    native 24, 1
    push_local -1
    push_int 1
    native 23, 3
    call log_bytes                      ; A
    push_local -1
    push_string "//dir//a.txt"          ; doubled separators
    native 24, 1
    push_local -1
    push_int 1
    native 23, 3
    call log_bytes                      ; A
    push_local -1
    push_string "/in.txt"               ; absolute: below the application directory
    native 24, 1
    push_local -1
    native 24, 4
    call log_int                        ; 12

    push_handler -1, empty_name
    push_local -1
    push_string ""
    native 24, 1
empty_name:
    call report
    push_handler -1, missing
    push_local -1
    push_string "missing.txt"
    native 24, 1
missing:
    call report
    push_handler -1, escape
    push_local -1
    push_string "../secret"
    native 24, 1
escape:
    call report
    push_handler -1, null_target
    push_int 0
    push_string "in.txt"
    native 24, 1
null_target:
    call report
    adjust_stack -1
    ret 0, 1

writer_tests:                           ; ret
    push_int 0
    box                                 ; ret, W
    push_local -1
    native 21, 2
    call log_int                        ; unset: 0
    push_handler -1, unset_write
    push_local -1
    push_int 0
    push_string "x"
    native 28, 1
    native 21, 3
unset_write:
    call report
    push_handler -1, unset_seek
    push_local -1
    push_int 0
    native 22, 2
unset_seek:
    call report

    push_local -1
    push_string "out/new.txt"           ; out/ is created
    push_int 0
    native 22, 1
    push_local -1
    native 21, 2
    call log_int                        ; -1
    push_local -1
    push_int 0
    push_string "abc"
    native 28, 1
    native 21, 3
    push_local -1
    native 22, 3
    call log_int                        ; 3
    push_local -1
    push_int 0
    push_string "abc"
    native 28, 1
    push_int 1
    push_int 1
    native 21, 4                        ; "b"
    push_local -1
    push_int 0
    push_string "xyz"
    native 28, 1
    push_int 1
    push_int -1
    native 21, 4                        ; to the end: "yz"
    push_local -1
    push_int 0
    push_string ""
    native 28, 1
    native 21, 3                        ; nothing to write
    push_local -1
    native 22, 4
    call log_int                        ; 6
    push_local -1
    push_int 1
    native 22, 2
    push_local -1
    push_int 0
    push_string "B"
    native 28, 1
    native 21, 3                        ; overwrites in place: aBcbyz
    push_local -1
    native 22, 3
    call log_int                        ; 2
    push_handler -1, writer_past_end
    push_local -1
    push_int 7
    native 22, 2
writer_past_end:
    call report
    push_handler -1, writer_negative
    push_local -1
    push_int -2
    native 22, 2
writer_negative:
    call report
    push_handler -1, bad_range
    push_local -1
    push_int 0
    push_string "abc"
    native 28, 1
    push_int 2
    push_int 5
    native 21, 4
bad_range:
    call report
    push_local -1
    native 21, 1                        ; close
    push_local -1
    native 21, 2
    call log_int                        ; 0
    push_local -1
    native 21, 1
    push_handler -1, closed_write
    push_local -1
    push_int 0
    push_string "x"
    native 28, 1
    native 21, 3
closed_write:
    call report
    push_local -1
    push_int 0
    push_string ""
    native 28, 1
    native 21, 3                        ; nothing to write: no error
    push_handler -1, closed_write_range
    push_local -1
    push_int 0
    push_string "x"
    native 28, 1
    push_int 0
    push_int 1
    native 21, 4
closed_write_range:
    call report
    push_handler -1, closed_position
    push_local -1
    native 22, 3
closed_position:
    call report

    push_local -1
    push_string "old.txt"
    push_int 1                          ; append
    native 22, 1
    push_local -1
    native 22, 3
    call log_int                        ; 3: after the old contents
    push_local -1
    push_int 0
    push_string "+new"
    native 28, 1
    native 21, 3
    push_local -1
    push_string "old.txt"
    push_int -5                         ; any mode but 0 appends
    native 22, 1
    push_local -1
    push_int 0
    push_string "+more"
    native 28, 1
    native 21, 3
    push_local -1
    push_string "trunc.txt"
    push_int 0
    native 22, 1
    push_local -1
    push_int 0
    push_string "t"
    native 28, 1
    native 21, 3
    push_local -1
    native 21, 1

    push_handler -1, writer_empty_name
    push_local -1
    push_string ""
    push_int 0
    native 22, 1
writer_empty_name:
    call report
    push_handler -1, writer_refused
    push_local -1
    push_string "c:out.txt"
    push_int 0
    native 22, 1
writer_refused:
    call report
    push_handler -1, writer_null_array
    push_local -1
    push_string "out/other.txt"
    push_int 0
    native 22, 1
    push_local -1
    push_int 0
    native 21, 3
writer_null_array:
    call report
    adjust_stack -1
    ret 0, 1

kind_tests:                             ; ret
    push_int 0
    box
    push_local -1
    push_string "in.txt"
    native 24, 1                        ; ret, R
    push_int 0
    box
    push_local -1
    push_string "out/kinds.txt"
    push_int 0
    native 22, 1                        ; ret, R, W
    push_handler -1, writer_to_input
    push_local -1
    native 23, 1
writer_to_input:
    call report
    push_handler -1, writer_to_input2
    push_local -1
    native 23, 2
writer_to_input2:
    call report
    push_handler -1, writer_to_read
    push_local -1
    push_int 1
    native 23, 3
writer_to_read:
    call report
    push_handler -1, writer_to_reader
    push_local -1
    native 24, 3
writer_to_reader:
    call report
    push_handler -1, reader_to_output
    push_local -2
    native 21, 1
reader_to_output:
    call report
    push_handler -1, reader_to_output2
    push_local -2
    native 21, 2
reader_to_output2:
    call report
    push_handler -1, reader_to_write
    push_local -2
    push_int 0
    push_string "x"
    native 28, 1
    native 21, 3
reader_to_write:
    call report
    push_handler -1, reader_to_writer
    push_local -2
    push_int 0
    native 22, 2
reader_to_writer:
    call report
    adjust_stack -2
    ret 0, 1

file_system_tests:                      ; ret
    push_int 0
    push_string "in.txt"
    native 25, 1
    call log_int                        ; -1
    push_int 0
    push_string ""
    native 25, 1
    call log_int                        ; 0
    push_int 0
    push_string "dir"
    native 25, 2
    call log_int                        ; -1
    push_int 0
    push_string "in.txt"
    native 25, 2
    call log_int                        ; 0
    push_int 0
    push_string ""
    native 25, 2
    call log_int                        ; 0

    push_int 0
    push_string "dir"
    native 25, 6                        ; files
    push_local -1
    native 7, 11
    call log_int                        ; 1
    push_int 0
    native 7, 8
    native 30, 1                        ; a.txt
    push_int 0
    push_string "dir"
    native 25, 5                        ; directories
    push_local -1
    native 7, 11
    call log_int                        ; 1
    push_int 0
    native 7, 8
    native 30, 1                        ; sub

    push_int 0
    push_string "made/empty.txt"
    native 25, 7                        ; creates the file and its directory
    push_int 0
    push_string "trunc.txt"
    native 25, 7                        ; empties it again
    push_int 0
    push_string "newdir/deep"
    native 25, 8
    push_int 0
    push_string "newdir/deep"
    native 25, 2
    call log_int                        ; -1
    push_int 0
    push_string "dir/a.txt"
    push_string "moved/a.txt"
    native 25, 9
    push_int 0
    push_string "newdir"
    push_string "renamed"
    native 25, 10
    push_int 0
    push_string "delete-me.txt"
    native 25, 3
    push_int 0
    push_string "delete-me.txt"
    native 25, 1
    call log_int                        ; 0
    push_int 0
    push_string "dir"
    native 25, 4                        ; with sub/b.txt in it
    push_int 0
    push_string "dir"
    native 25, 2
    call log_int                        ; 0

    push_handler -1, delete_missing
    push_int 0
    push_string "delete-me.txt"
    native 25, 3
delete_missing:
    call report
    push_handler -1, remove_missing
    push_int 0
    push_string "dir"
    native 25, 4
remove_missing:
    call report
    push_handler -1, list_missing
    push_int 0
    push_string "dir"
    native 25, 6
list_missing:
    call report
    push_handler -1, list_missing_dirs
    push_int 0
    push_string "dir"
    native 25, 5
list_missing_dirs:
    call report
    push_handler -1, create_refused
    push_int 0
    push_string "a|b"
    native 25, 7
create_refused:
    call report
    push_handler -1, mkdir_refused
    push_int 0
    push_string "x/../y"
    native 25, 8
mkdir_refused:
    call report
    push_handler -1, rename_missing
    push_int 0
    push_string "nothing"
    push_string "something"
    native 25, 9
rename_missing:
    call report
    push_handler -1, rename_dir_missing
    push_int 0
    push_string "nothing"
    push_string "something"
    native 25, 10
rename_dir_missing:
    call report

    push_handler -1, delete_empty
    push_int 0
    push_string ""
    native 25, 3
delete_empty:
    call report
    push_handler -1, rmdir_empty
    push_int 0
    push_string ""
    native 25, 4
rmdir_empty:
    call report
    push_handler -1, create_empty
    push_int 0
    push_string ""
    native 25, 7
create_empty:
    call report
    push_handler -1, mkdir_empty
    push_int 0
    push_string ""
    native 25, 8
mkdir_empty:
    call report
    push_handler -1, rename_no_source
    push_int 0
    push_string ""
    push_string "x"
    native 25, 9
rename_no_source:
    call report
    push_handler -1, rename_no_target
    push_int 0
    push_string "x"
    push_string ""
    native 25, 9
rename_no_target:
    call report
    push_handler -1, rename_dir_no_source
    push_int 0
    push_string ""
    push_string "x"
    native 25, 10
rename_dir_no_source:
    call report
    push_handler -1, rename_dir_no_target
    push_int 0
    push_string "x"
    push_string ""
    native 25, 10
rename_dir_no_target:
    call report
    push_handler -1, exists_null
    push_int 0
    push_int 0
    native 25, 1
exists_null:
    call report
    ret 0, 1

unknown_functions:                      ; ret
    push_handler -1, output0
    native 21, 0
output0:
    call report
    push_handler -1, writer5
    native 22, 5
writer5:
    call report
    push_handler -1, input4
    native 23, 4
input4:
    call report
    push_handler -1, reader0
    native 24, 0
reader0:
    call report
    push_handler -1, file_system11
    native 25, 11
file_system11:
    call report
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

log_bytes:                              ; byte vector, return address: logs it as UTF-8
    push_int 0
    push_local -3
    native 28, 2
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
