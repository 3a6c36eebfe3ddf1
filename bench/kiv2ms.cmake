# SPDX-License-Identifier: Apache-2.0
# kiv2ms against a minimal packer over libmseed, built and run by hand:
#   cmake --build <build> --target kiv2ms_bench && <build>/bench/kiv2ms_bench [rounds]
if(NOT TARGET kiv2ms)
  return()
endif()
add_executable(kiv2ms_bench EXCLUDE_FROM_ALL ${CMAKE_CURRENT_SOURCE_DIR}/kiv2ms_bench.cpp)
target_link_libraries(kiv2ms_bench PRIVATE kivf_static PkgConfig::MSEED)
target_compile_definitions(kiv2ms_bench PRIVATE
  KIV2MS_BIN="$<TARGET_FILE:kiv2ms>" KIVAUX_DIR="${PROJECT_SOURCE_DIR}/kivaux")
add_dependencies(kiv2ms_bench kiv2ms)
