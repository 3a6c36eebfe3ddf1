# SPDX-License-Identifier: Apache-2.0
# kivread in Octave against a plain fread of the same samples, run by hand (not part of the
# default build):
#   cmake --build <build> --target kivread_bench_octave
add_custom_target(kivread_bench_octave
  COMMAND ${CMAKE_COMMAND} -E env KIVF_OCTAVE_DIR=${PROJECT_BINARY_DIR}/octave
          octave-cli --norc --quiet --no-history --no-window-system
          ${CMAKE_CURRENT_SOURCE_DIR}/kivread_bench.m
  USES_TERMINAL
  VERBATIM)
add_dependencies(kivread_bench_octave kivf_octave_files)
