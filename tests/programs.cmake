# End-to-end tests of the programs: they run the built binaries as a user would.
if(TARGET wfdxlate)
  add_executable(wfdxlate_e2e wfdxlate_e2e.cpp)
  target_link_libraries(wfdxlate_e2e PRIVATE GTest::gtest GTest::gtest_main)
  target_include_directories(wfdxlate_e2e PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR})
  target_compile_definitions(wfdxlate_e2e PRIVATE
    WFDXLATE_BIN="$<TARGET_FILE:wfdxlate>" GENSAMPLES_BIN="$<TARGET_FILE:gensamples>"
    KIVF_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  add_dependencies(wfdxlate_e2e wfdxlate gensamples)
  gtest_discover_tests(wfdxlate_e2e DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)

  add_executable(badinput_e2e badinput_e2e.cpp)
  target_link_libraries(badinput_e2e PRIVATE GTest::gtest GTest::gtest_main)
  target_compile_definitions(badinput_e2e PRIVATE
    WFDXLATE_BIN="$<TARGET_FILE:wfdxlate>" KIVHDR_BIN="$<TARGET_FILE:kivhdr>"
    KIVF_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  add_dependencies(badinput_e2e wfdxlate kivhdr)
  gtest_discover_tests(badinput_e2e DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)

  add_executable(batch_e2e batch_e2e.cpp)
  target_link_libraries(batch_e2e PRIVATE GTest::gtest GTest::gtest_main)
  target_compile_definitions(batch_e2e PRIVATE
    WFDXLATE_BIN="$<TARGET_FILE:wfdxlate>" KIVF_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  gtest_discover_tests(batch_e2e DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)

  add_test(NAME scaleout COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/scaleout.sh ${PROJECT_SOURCE_DIR}/README.md
    $<TARGET_FILE_DIR:wfdxlate> $<TARGET_FILE:genarchive> ${PROJECT_SOURCE_DIR}/kivaux
    ${CMAKE_CURRENT_BINARY_DIR}/scaleout-work)
  set_tests_properties(scaleout PROPERTIES TIMEOUT 120)
endif()

# The installed package, used by a separate project. Not under the sanitizers:
# the consumer would need their run-time libraries too.
if(NOT KIVF_SANITIZE)
  add_test(NAME package_consumer
    COMMAND ${CMAKE_COMMAND} -DBUILD=${PROJECT_BINARY_DIR} -DSOURCE=${CMAKE_CURRENT_SOURCE_DIR}/consumer
            -DWORK=${CMAKE_CURRENT_BINARY_DIR}/consumer-work -DCXX=${CMAKE_CXX_COMPILER}
            -DPYTHON=$<$<BOOL:${KIVF_PYTHON_DIR}>:${Python3_EXECUTABLE}>
            -P ${CMAKE_CURRENT_SOURCE_DIR}/consumer.cmake)
  set_tests_properties(package_consumer PROPERTIES TIMEOUT 300)
endif()

if(TARGET msxlate)
  add_executable(msxlate_e2e msxlate_e2e.cpp)
  target_link_libraries(msxlate_e2e PRIVATE kivf_static PkgConfig::MSEED GTest::gtest GTest::gtest_main)
  target_include_directories(msxlate_e2e PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR})
  target_compile_definitions(msxlate_e2e PRIVATE
    MSXLATE_BIN="$<TARGET_FILE:msxlate>" KIVF_VERSION="${PROJECT_VERSION}")
  add_dependencies(msxlate_e2e msxlate)
  gtest_discover_tests(msxlate_e2e TEST_PREFIX msxlate_e2e. DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endif()
