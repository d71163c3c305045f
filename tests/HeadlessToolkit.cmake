# zentu-run starts Qt Gui only for applications that need it, from the module beside it.
# Expects RUN (zentu-run), PROGRAMS (the program tests' build directory) and WORK.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

# A program that only logs and exits never loads Qt Gui.
execute_process(COMMAND ${CMAKE_COMMAND} -E env LD_DEBUG=libs LD_DEBUG_OUTPUT=${WORK}/libs
                        ${RUN} ${PROGRAMS}/empty-script
                RESULT_VARIABLE result ERROR_VARIABLE err)
if(NOT result EQUAL 0 OR NOT err STREQUAL "LOG: before\n")
  message(FATAL_ERROR "zentu-run failed (${result}):\n${err}")
endif()
file(GLOB logs ${WORK}/libs*)
set(loaded "")
foreach(log ${logs})
  file(READ ${log} text)
  string(APPEND loaded "${text}")
endforeach()
if(NOT loaded MATCHES "libQt6Core")
  message(FATAL_ERROR "no library list was recorded")
endif()
if(loaded MATCHES "libQt6Gui|zentu-run-toolkit")
  message(FATAL_ERROR "a program without graphics loaded Qt Gui")
endif()

# Without its module, zentu-run says so when the application first draws.
file(COPY ${RUN} DESTINATION ${WORK}/bin)
get_filename_component(name ${RUN} NAME)
file(WRITE ${WORK}/draw.events "draw ${WORK}/frame.png\n")
execute_process(COMMAND ${WORK}/bin/${name} --events ${WORK}/draw.events ${PROGRAMS}/draw-frame
                RESULT_VARIABLE result ERROR_VARIABLE err)
if(NOT result EQUAL 1 OR NOT err MATCHES "^zentu-run: cannot load the toolkit module zentu-run-toolkit.so:\n  .*zentu-run-toolkit.so")
  message(FATAL_ERROR "a missing module gave (${result}):\n${err}")
endif()
