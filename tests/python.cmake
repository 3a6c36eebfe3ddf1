# SPDX-License-Identifier: Apache-2.0
# The Python package's tests: pytest on tests/python with Debian's interpreter and the build
# tree's package. Skipped, with a message, when the package or pytest is missing.
set(why "")
if(NOT KIVF_PYTHON_DIR)
  set(why "the kivf Python module was not built")
else()
  execute_process(COMMAND ${Python3_EXECUTABLE} -c "import pytest"
                  RESULT_VARIABLE no_pytest OUTPUT_QUIET ERROR_QUIET)
  if(no_pytest)
    set(why "pytest is not installed for ${Python3_EXECUTABLE}")
  endif()
endif()
if(why)
  add_test(NAME python COMMAND /bin/sh -c "echo 'SKIPPED python: ${why}'; exit 77")
  set_tests_properties(python PROPERTIES SKIP_RETURN_CODE 77)
  return()
endif()
# One test per file, so that they run side by side with the rest.
file(GLOB files CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/python/test_*.py)
foreach(file IN LISTS files)
  get_filename_component(name ${file} NAME_WE)
  add_test(NAME python.${name} COMMAND ${Python3_EXECUTABLE} -m pytest -q -p no:cacheprovider ${file})
  set_tests_properties(python.${name} PROPERTIES TIMEOUT 300 ENVIRONMENT
    "PYTHONPATH=${KIVF_PYTHON_DIR};KIVF_BINARY_DIR=${PROJECT_BINARY_DIR};KIVF_SOURCE_DIR=${PROJECT_SOURCE_DIR};SPHGEO_DIR=$<TARGET_FILE_DIR:sphgeo>;MPLBACKEND=Agg")
endforeach()
