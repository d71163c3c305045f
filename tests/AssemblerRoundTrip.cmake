# Runs zentu-asm and zentu-dis as a user would: assemble, disassemble, reassemble and compare;
# then check that mistakes fail with a message and write nothing.
# Expects ASM, DIS, SOURCE and WORK.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

function(run expected_result)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(expected_result STREQUAL "ok" AND NOT result EQUAL 0)
    message(FATAL_ERROR "${ARGN} failed (${result}):\n${err}")
  elseif(expected_result STREQUAL "fail" AND result EQUAL 0)
    message(FATAL_ERROR "${ARGN} succeeded but should have failed")
  endif()
  set(last_error "${err}" PARENT_SCOPE)
endfunction()

run(ok ${ASM} ${SOURCE} -o ${WORK}/first.mcb)
run(ok ${DIS} ${WORK}/first.mcb -o ${WORK}/first.s)
run(ok ${ASM} ${WORK}/first.s -o ${WORK}/second.mcb)
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/first.mcb ${WORK}/second.mcb
                RESULT_VARIABLE different)
if(different)
  message(FATAL_ERROR "reassembling the disassembly changed the image")
endif()

file(WRITE ${WORK}/bad.s "main:\n    push_int 1\n    jump nowhere\n")
run(fail ${ASM} ${WORK}/bad.s -o ${WORK}/bad.mcb)
if(NOT last_error MATCHES "bad.s:3:10: error: undefined label 'nowhere'")
  message(FATAL_ERROR "unexpected assembler message:\n${last_error}")
endif()
if(EXISTS ${WORK}/bad.mcb)
  message(FATAL_ERROR "a failed assembly wrote an image")
endif()

file(WRITE ${WORK}/cut.mcb "")
run(fail ${DIS} ${WORK}/cut.mcb)
if(NOT last_error MATCHES "Error while reading bytecode")
  message(FATAL_ERROR "unexpected disassembler message:\n${last_error}")
endif()

run(fail ${DIS} ${WORK})
if(NOT last_error MATCHES "cannot read")
  message(FATAL_ERROR "unexpected message for a directory:\n${last_error}")
endif()
