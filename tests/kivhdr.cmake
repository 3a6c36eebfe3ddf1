# The header lister: its unit tests use the lister's own pieces too, and its
# end-to-end tests run the built program (and write files with wkiv0).
if(TARGET kivhdr)
  target_link_libraries(kivhdr_test PRIVATE kivhdr_show)

  kivf_e2e(kivhdr_e2e RUNS kivhdr LIBS kivf_static)
endif()
