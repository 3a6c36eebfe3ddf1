# SPDX-License-Identifier: Apache-2.0
# The examples of README.md and docs/*.md, run against this build on a fresh copy of the demo's
# output, with the README's own checks (tests/docexamples.py); and the runner's checks on
# altered copies. Needs the programs the demo runs.
if(NOT TARGET wfdxlate OR NOT TARGET kivhdr OR NOT TARGET gensamples OR NOT TARGET genarchive)
  return()
endif()
set(kivf_docs_python /usr/bin/python3)
if(Python3_EXECUTABLE)
  set(kivf_docs_python ${Python3_EXECUTABLE})
endif()
set(kivf_docs ${kivf_docs_python} ${CMAKE_CURRENT_SOURCE_DIR}/docexamples.py --source ${PROJECT_SOURCE_DIR}
    --build ${PROJECT_BINARY_DIR} --python ${kivf_docs_python})
# Under the sanitizers C++ and the plug-in cannot be used outside the build.
add_test(NAME docs_examples COMMAND ${kivf_docs} --work ${CMAKE_CURRENT_BINARY_DIR}/docs-work
  --cxx ${CMAKE_CXX_COMPILER} $<$<OR:$<BOOL:${KIVF_SANITIZE}>,$<BOOL:${KIVF_TSAN}>>:--sanitized> COMMAND_EXPAND_LISTS)
set_tests_properties(docs_examples PROPERTIES TIMEOUT 900)
add_test(NAME docs_examples_selftest COMMAND ${kivf_docs} --selftest --work ${CMAKE_CURRENT_BINARY_DIR}/docs-selftest)
