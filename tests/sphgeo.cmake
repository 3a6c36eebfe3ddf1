# SPDX-License-Identifier: Apache-2.0
# Tests of the plug-in sphgeo. Included from tests/CMakeLists.txt; links nothing of kivf.
if(NOT TARGET sphgeo)
  return()
endif()

# Our host, offering mxCreateFull or only mxCreateDoubleMatrix (as Octave), exports the MEX calls.
foreach(variant full double_matrix)
  set(target sphgeo_host_${variant}_test)
  add_executable(${target} ${CMAKE_CURRENT_SOURCE_DIR}/sphgeo_host_test.cpp)
  target_link_libraries(${target} PRIVATE sphgeo_core GTest::gtest GTest::gtest_main
                                          ${CMAKE_DL_LIBS})
  target_compile_definitions(${target} PRIVATE SPHGEO_MEX_PATH="$<TARGET_FILE:sphgeo>")
  if(variant STREQUAL "double_matrix")
    target_compile_definitions(${target} PRIVATE SPHGEO_HOST_DOUBLE_MATRIX)
  endif()
  set_target_properties(${target} PROPERTIES ENABLE_EXPORTS ON)
  add_dependencies(${target} sphgeo)
  gtest_discover_tests(${target} TEST_PREFIX "sphgeo_host_${variant}."
                       DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endforeach()

# GNU Octave loads the built plug-in; skipped without octave-cli or under the sanitizers.
add_test(NAME sphgeo_octave
  COMMAND /bin/sh ${CMAKE_CURRENT_SOURCE_DIR}/sphgeo_octave_test.sh
          $<TARGET_FILE_DIR:sphgeo> ${CMAKE_CURRENT_SOURCE_DIR}/sphgeo_octave_test.m
          ${PROJECT_SOURCE_DIR}/bench $<OR:$<BOOL:${KIVF_SANITIZE}>,$<BOOL:${KIVF_TSAN}>>)
set_tests_properties(sphgeo_octave PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
