# SPDX-License-Identifier: Apache-2.0
# Manual pages against the programs' help; the shared library imports nothing that ends the process.
add_test(NAME manpages
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/manpages.sh ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
add_test(NAME library_never_exits COMMAND sh -c
  "s=$(nm -D --undefined-only \"$0\") && [ -n \"$s\" ] && ! echo \"$s\" | grep -E ' U (exit|_exit|_Exit|abort|quick_exit)(@|$)'"
  $<TARGET_FILE:kivf>)
# The Debian package, unpacked (not under the sanitizers, whose run-time libraries it lacks).
if(NOT KIVF_SANITIZE AND NOT KIVF_TSAN)
  add_test(NAME debian_package
    COMMAND ${CMAKE_COMMAND} -DBUILD=${PROJECT_BINARY_DIR} -DWORK=${CMAKE_CURRENT_BINARY_DIR}/deb-work
            -DCPACK=${CMAKE_CPACK_COMMAND} -DPYTHON=$<$<BOOL:${KIVF_PYTHON_DIR}>:${Python3_EXECUTABLE}>
            -DMSXLATE=$<TARGET_EXISTS:msxlate> -P ${CMAKE_CURRENT_SOURCE_DIR}/debpackage.cmake)
  set_tests_properties(debian_package PROPERTIES TIMEOUT 300 SKIP_REGULAR_EXPRESSION "SKIPPED:")
endif()
# Licence: the whole text in LICENSE, and every source file and manual page naming it in its
# first two lines (the checker itself proven on a made-up tree).
add_test(NAME licence_file
  COMMAND ${CMAKE_COMMAND} -DLICENSE=${PROJECT_SOURCE_DIR}/LICENSE -P ${CMAKE_CURRENT_SOURCE_DIR}/licence.cmake)
add_test(NAME spdx_headers
  COMMAND ${CMAKE_COMMAND} -DROOT=${PROJECT_SOURCE_DIR} -P ${CMAKE_CURRENT_SOURCE_DIR}/spdx.cmake)
add_test(NAME spdx_checker_names_offenders COMMAND ${CMAKE_COMMAND} -DCHECKER=${CMAKE_CURRENT_SOURCE_DIR}/spdx.cmake
  -DWORK=${CMAKE_CURRENT_BINARY_DIR}/spdx-work -P ${CMAKE_CURRENT_SOURCE_DIR}/spdx_selftest.cmake)
