# SPDX-License-Identifier: Apache-2.0
# Benchmarks of the plug-in sphgeo, built and run by hand (not part of the default build):
#   cmake --build <build> --target sphgeo_bench && <build>/bench/sphgeo_bench
#   cmake --build <build> --target sphgeo_bench_octave
if(NOT TARGET sphgeo_core)
  return()
endif()

add_executable(sphgeo_bench EXCLUDE_FROM_ALL ${CMAKE_CURRENT_SOURCE_DIR}/sphgeo_bench.cpp)
target_link_libraries(sphgeo_bench PRIVATE sphgeo_core)

# The plug-in against the vectorised .m of the same formula, in one Octave session.
add_custom_target(sphgeo_bench_octave
  COMMAND ${CMAKE_COMMAND} -E env SPHGEO_DIR=$<TARGET_FILE_DIR:sphgeo>
          SPHGEO_REF_DIR=${CMAKE_CURRENT_SOURCE_DIR}
          octave-cli --norc --quiet --no-history --no-window-system
          ${CMAKE_CURRENT_SOURCE_DIR}/sphgeo_bench.m
  DEPENDS sphgeo
  USES_TERMINAL
  VERBATIM)
