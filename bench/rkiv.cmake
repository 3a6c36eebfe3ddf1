# SPDX-License-Identifier: Apache-2.0
# rkiv on a 1,000,000-sample file against a plain read() of the same bytes,
# built and run by hand:
#   cmake --build <build> --target rkiv_bench && <build>/bench/rkiv_bench [rounds]
add_executable(rkiv_bench EXCLUDE_FROM_ALL ${CMAKE_CURRENT_SOURCE_DIR}/rkiv_bench.cpp)
target_link_libraries(rkiv_bench PRIVATE kivf_static)
