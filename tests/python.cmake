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
else()
  add_test(NAME python
    COMMAND ${Python3_EXECUTABLE} -m pytest -q -p no:cacheprovider ${CMAKE_CURRENT_SOURCE_DIR}/python)
  set_tests_properties(python PROPERTIES ENVIRONMENT
    "PYTHONPATH=${KIVF_PYTHON_DIR};KIVF_BINARY_DIR=${PROJECT_BINARY_DIR};KIVF_SOURCE_DIR=${PROJECT_SOURCE_DIR};SPHGEO_DIR=$<TARGET_FILE_DIR:sphgeo>;MPLBACKEND=Agg")
endif()
set_tests_properties(python PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
