# The manual pages against the programs' help, and the shared library's imports.
add_test(NAME manpages
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/manpages.sh ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
add_test(NAME library_never_exits
  COMMAND ${CMAKE_COMMAND} -DLIB=$<TARGET_FILE:kivf> -P ${CMAKE_CURRENT_SOURCE_DIR}/noexit.cmake)
