# Manual pages against the programs' help; the shared library imports nothing that ends the process.
add_test(NAME manpages
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/manpages.sh ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
add_test(NAME library_never_exits COMMAND sh -c
  "s=$(nm -D --undefined-only \"$0\") && [ -n \"$s\" ] && ! echo \"$s\" | grep -E ' U (exit|_exit|_Exit|abort|quick_exit)(@|$)'"
  $<TARGET_FILE:kivf>)
