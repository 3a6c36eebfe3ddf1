# SPDX-License-Identifier: Apache-2.0
# rkiv on a 1,000,000-sample file against a plain read() of the same bytes,
# built and run by hand:
#   cmake --build <build> --target rkiv_bench && <build>/bench/rkiv_bench [rounds]
add_executable(rkiv_bench EXCLUDE_FROM_ALL ${CMAKE_CURRENT_SOURCE_DIR}/rkiv_bench.cpp)
target_link_libraries(rkiv_bench PRIVATE kivf_static)
# The suite builds it and runs two rounds, so that it cannot rot unseen (it
# once stopped at its first step in the checked build); its figures are not
# looked at there.
if(KIVF_TESTS)
  add_test(NAME rkiv_bench_build
           COMMAND ${CMAKE_COMMAND} --build ${CMAKE_BINARY_DIR} --target rkiv_bench)
  set_tests_properties(rkiv_bench_build PROPERTIES FIXTURES_SETUP rkiv_bench)
  add_test(NAME rkiv_bench_runs COMMAND rkiv_bench 2 WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  set_tests_properties(rkiv_bench_runs PROPERTIES FIXTURES_REQUIRED rkiv_bench TIMEOUT 300)
endif()
