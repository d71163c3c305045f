# zentu-run starts Qt only for applications that need graphics, from the module beside it.
# Expects RUN (zentu-run), PROGRAMS (the program tests' build directory) and WORK.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

# Programs without graphics load no Qt library: one that only logs and exits, and one that
# runs timers.
foreach(program empty-script timers)
  file(REMOVE_RECURSE ${WORK}/libs)
  file(MAKE_DIRECTORY ${WORK}/libs)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env LD_DEBUG=libs LD_DEBUG_OUTPUT=${WORK}/libs/log
                          ${RUN} ${PROGRAMS}/${program}
                  RESULT_VARIABLE result ERROR_VARIABLE err)
  if(NOT result EQUAL 0 OR NOT err MATCHES "^LOG: ")
    message(FATAL_ERROR "zentu-run ${program} failed (${result}):\n${err}")
  endif()
  file(GLOB logs ${WORK}/libs/log*)
  set(loaded "")
  foreach(log ${logs})
    file(READ ${log} text)
    string(APPEND loaded "${text}")
  endforeach()
  if(NOT loaded MATCHES "libstdc\\+\\+")
    message(FATAL_ERROR "no library list was recorded for ${program}")
  endif()
  if(loaded MATCHES "libQt6|zentu-run-toolkit")
    message(FATAL_ERROR "${program}, without graphics, loaded Qt")
  endif()
endforeach()

# Without its module, zentu-run says so when the application first draws.
file(COPY ${RUN} DESTINATION ${WORK}/bin)
get_filename_component(name ${RUN} NAME)
file(WRITE ${WORK}/draw.events "draw ${WORK}/frame.png\n")
execute_process(COMMAND ${WORK}/bin/${name} --events ${WORK}/draw.events ${PROGRAMS}/draw-frame
                RESULT_VARIABLE result ERROR_VARIABLE err)
if(NOT result EQUAL 1 OR NOT err MATCHES "^zentu-run: cannot load the toolkit module zentu-run-toolkit.so:\n  .*zentu-run-toolkit.so")
  message(FATAL_ERROR "a missing module gave (${result}):\n${err}")
endif()
