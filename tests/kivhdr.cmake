# The header lister: its unit tests use the lister's own pieces too, and its
# end-to-end tests run the built program (and write files with wkiv0).
if(TARGET kivhdr)
  target_link_libraries(kivhdr_test PRIVATE kivhdr_show)

  add_executable(kivhdr_e2e kivhdr_e2e.cpp)
  target_link_libraries(kivhdr_e2e PRIVATE kivf_static GTest::gtest GTest::gtest_main)
  target_include_directories(kivhdr_e2e PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_definitions(kivhdr_e2e PRIVATE
    KIVHDR_BIN="$<TARGET_FILE:kivhdr>" KIVF_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  gtest_discover_tests(kivhdr_e2e DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endif()
