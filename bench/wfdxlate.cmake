# SPDX-License-Identifier: Apache-2.0
# Time per record of the converter against plain C++ copies, built and run by hand:
#   cmake --build <build> --target wfdxlate_bench && <build>/bench/wfdxlate_bench
if(NOT TARGET wfdxlate)
  return()
endif()
add_executable(wfdxlate_bench EXCLUDE_FROM_ALL ${CMAKE_CURRENT_SOURCE_DIR}/wfdxlate_bench.cpp)
target_compile_definitions(wfdxlate_bench PRIVATE
  WFDXLATE_BIN="$<TARGET_FILE:wfdxlate>" KIVAUX_DIR="${PROJECT_SOURCE_DIR}/kivaux")
add_dependencies(wfdxlate_bench wfdxlate)

# The batch mode: a day-long record and many short ones, against a plain C++
# baseline and a numpy script (run by hand, see the file's head).
add_executable(batch_bench EXCLUDE_FROM_ALL ${CMAKE_CURRENT_SOURCE_DIR}/batch_bench.cpp)
target_compile_definitions(batch_bench PRIVATE
  WFDXLATE_BIN="$<TARGET_FILE:wfdxlate>" KIVAUX_DIR="${PROJECT_SOURCE_DIR}/kivaux")
add_dependencies(batch_bench wfdxlate)
