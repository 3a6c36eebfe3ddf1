# SPDX-License-Identifier: Apache-2.0
# kivf.read of a day's miniSEED file against libmseed's own reading into
# memory (mseed_read_base), run by hand:
#   cmake --build <build> --target mseed_read_bench_python
# or, with the module built elsewhere:
#   PYTHONPATH=<build>/python /usr/bin/python3 bench/mseed_read_bench.py <build>/bench/mseed_read_base
if(NOT TARGET PkgConfig::MSEED)
  return()
endif()
add_executable(mseed_read_base EXCLUDE_FROM_ALL ${CMAKE_CURRENT_SOURCE_DIR}/mseed_read_base.cpp)
target_link_libraries(mseed_read_base PRIVATE PkgConfig::MSEED)
if(NOT KIVF_PYTHON_DIR)
  return()
endif()
add_custom_target(mseed_read_bench_python
  COMMAND ${CMAKE_COMMAND} -E env PYTHONPATH=${KIVF_PYTHON_DIR}
          ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/mseed_read_bench.py
          $<TARGET_FILE:mseed_read_base>
  DEPENDS kivf_python mseed_read_base
  USES_TERMINAL
  VERBATIM)
