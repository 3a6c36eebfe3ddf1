# SPDX-License-Identifier: Apache-2.0
# End-to-end tests of the programs: kivf_e2e(NAME RUNS program... [LIBS lib...] [DEFINES def...]
# [DISCOVER gtest_discover_tests option...]) builds NAME.cpp, which finds each program it runs as
# <PROGRAM>_BIN.
function(kivf_e2e name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "RUNS;LIBS;DEFINES;DISCOVER")
  add_executable(${name} ${name}.cpp)
  target_link_libraries(${name} PRIVATE ${arg_LIBS} GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${name} PRIVATE KIVF_SOURCE_DIR="${PROJECT_SOURCE_DIR}" ${arg_DEFINES})
  foreach(program IN LISTS arg_RUNS)
    string(TOUPPER ${program} var)
    target_compile_definitions(${name} PRIVATE ${var}_BIN="$<TARGET_FILE:${program}>")
    add_dependencies(${name} ${program})
  endforeach()
  gtest_discover_tests(${name} ${arg_DISCOVER} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()
if(TARGET wfdxlate)
  kivf_e2e(wfdxlate_e2e RUNS wfdxlate)
  kivf_e2e(badinput_e2e RUNS wfdxlate kivhdr)
  kivf_e2e(batch_e2e RUNS wfdxlate)
  kivf_e2e(meta_e2e RUNS wfdxlate LIBS sphgeo_core) # distances against the plug-in's own

  add_test(NAME scaleout COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/scaleout.sh ${PROJECT_SOURCE_DIR}/docs/scaleout.md
    $<TARGET_FILE_DIR:wfdxlate> $<TARGET_FILE:genarchive> ${PROJECT_SOURCE_DIR}/kivaux
    ${CMAKE_CURRENT_BINARY_DIR}/scaleout-work
    $<$<TARGET_EXISTS:msxlate>:$<TARGET_FILE_DIR:msxlate>> $<$<TARGET_EXISTS:genmseed>:$<TARGET_FILE:genmseed>>)
  set_tests_properties(scaleout PROPERTIES TIMEOUT 120)
endif()

# The installed package used by a separate project (not under the sanitizers, whose run-time
# libraries the consumer would need).
if(NOT KIVF_SANITIZE AND NOT KIVF_TSAN)
  add_test(NAME package_consumer
    COMMAND ${CMAKE_COMMAND} -DBUILD=${PROJECT_BINARY_DIR} -DSOURCE=${CMAKE_CURRENT_SOURCE_DIR}/consumer
            -DWORK=${CMAKE_CURRENT_BINARY_DIR}/consumer-work -DCXX=${CMAKE_CXX_COMPILER}
            -DPYTHON=$<$<BOOL:${KIVF_PYTHON_DIR}>:${Python3_EXECUTABLE}>
            -P ${CMAKE_CURRENT_SOURCE_DIR}/consumer.cmake)
  set_tests_properties(package_consumer PROPERTIES TIMEOUT 300)
endif()

foreach(program msxlate kiv2ms)
  if(TARGET ${program})
    kivf_e2e(${program}_e2e RUNS ${program} LIBS kivf_static PkgConfig::MSEED
             DISCOVER TEST_PREFIX ${program}_e2e. DEFINES KIVF_VERSION="${PROJECT_VERSION}")
  endif()
endforeach()
