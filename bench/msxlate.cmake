# SPDX-License-Identifier: Apache-2.0
# msxlate against libmseed's own reading, built and run by hand:
#   cmake --build <build> --target msxlate_bench && <build>/bench/msxlate_bench
if(NOT TARGET msxlate)
  return()
endif()
add_executable(msxlate_bench EXCLUDE_FROM_ALL ${CMAKE_CURRENT_SOURCE_DIR}/msxlate_bench.cpp)
target_link_libraries(msxlate_bench PRIVATE PkgConfig::MSEED)
target_compile_definitions(msxlate_bench PRIVATE
  MSXLATE_BIN="$<TARGET_FILE:msxlate>" KIVAUX_DIR="${PROJECT_SOURCE_DIR}/kivaux")
add_dependencies(msxlate_bench msxlate)
