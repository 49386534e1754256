# The bundled sample must be exactly what mkprc makes of the bundled text. mkprc never
# replaces a file, so the output of an earlier run goes first. MKPRC is the command that runs
# it, an emulator first where one is needed.
file(REMOVE ${OUT})
execute_process(COMMAND ${MKPRC} ${EXAMPLES}/sample.txt ${OUT} COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT} ${EXAMPLES}/sample.PRC
                RESULT_VARIABLE differs)
if(differs)
  message(FATAL_ERROR "examples/sample.PRC is not mkprc's output for examples/sample.txt")
endif()
