# SPDX-License-Identifier: Apache-2.0
# The Python package's benchmark, run by hand (not part of the default build):
#   cmake --build <build> --target kivf_bench_python
if(NOT KIVF_PYTHON_DIR)
  return()
endif()
add_custom_target(kivf_bench_python
  COMMAND ${CMAKE_COMMAND} -E env PYTHONPATH=${KIVF_PYTHON_DIR}
          ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/kivf_bench.py $<TARGET_FILE_DIR:sphgeo>
  DEPENDS kivf_python sphgeo
  USES_TERMINAL
  VERBATIM)
