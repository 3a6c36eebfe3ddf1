# SPDX-License-Identifier: Apache-2.0
# The examples of README.md and docs/*.md, run against this build on a fresh copy of the demo's
# output (tests/docexamples.py), with the README's own checks (its length, its first commands,
# its apt-get line against .ci/run). Needs the programs the demo runs.
if(NOT TARGET wfdxlate OR NOT TARGET kivhdr OR NOT TARGET gensamples OR NOT TARGET genarchive)
  return()
endif()
if(Python3_EXECUTABLE)
  set(kivf_docs_python ${Python3_EXECUTABLE})
else()
  set(kivf_docs_python /usr/bin/python3)
endif()
set(kivf_docs_sanitized)
if(KIVF_SANITIZE OR KIVF_TSAN)
  set(kivf_docs_sanitized --sanitized) # C++ and the plug-in cannot be used outside the build
endif()
add_test(NAME docs_examples
  COMMAND ${kivf_docs_python} ${CMAKE_CURRENT_SOURCE_DIR}/docexamples.py
          --source ${PROJECT_SOURCE_DIR} --build ${PROJECT_BINARY_DIR}
          --work ${CMAKE_CURRENT_BINARY_DIR}/docs-work --cxx ${CMAKE_CXX_COMPILER}
          --python ${kivf_docs_python} ${kivf_docs_sanitized})
set_tests_properties(docs_examples PROPERTIES TIMEOUT 900)
# The runner's own checks on altered copies: a README line or package too many or too few, a
# block that cannot run, a status not the one expected must each fail.
add_test(NAME docs_examples_selftest
  COMMAND ${kivf_docs_python} ${CMAKE_CURRENT_SOURCE_DIR}/docexamples.py --selftest
          --source ${PROJECT_SOURCE_DIR} --build ${PROJECT_BINARY_DIR}
          --work ${CMAKE_CURRENT_BINARY_DIR}/docs-selftest)
