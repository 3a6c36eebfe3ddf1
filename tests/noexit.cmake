# The shared library imports nothing that ends the process.
execute_process(COMMAND nm -D --undefined-only ${LIB} RESULT_VARIABLE rc OUTPUT_VARIABLE syms)
if(NOT rc EQUAL 0 OR NOT syms MATCHES " U ")
  message(FATAL_ERROR "nm ${LIB} failed: ${rc}")
endif()
if(syms MATCHES "[ \n]U (exit|_exit|_Exit|abort|quick_exit)(@[^\n]*)?\n")
  message(FATAL_ERROR "${LIB} imports ${CMAKE_MATCH_1}")
endif()
