# SPDX-License-Identifier: Apache-2.0
# The built octave/ folder in octave-cli against the built converter and kivhdr; skipped without it.
set(skip "echo 'SKIPPED kivf_octave: octave-cli is not installed; kivread, kivwrite untested'")
# kivwrite computes distances with the plug-in, which octave-cli cannot load when built with the
# sanitizers: then the test goes without it.
set(sphgeo_dir $<TARGET_FILE_DIR:sphgeo>)
if(KIVF_SANITIZE OR KIVF_TSAN)
  set(sphgeo_dir "")
endif()
add_test(NAME kivf_octave
  COMMAND ${CMAKE_COMMAND} -E env KIVF_OCTAVE_DIR=${PROJECT_BINARY_DIR}/octave
  KIVAUX=${PROJECT_SOURCE_DIR}/kivaux WFDXLATE=$<TARGET_FILE:wfdxlate> KIVHDR=$<TARGET_FILE:kivhdr>
  SPHGEO_DIR=${sphgeo_dir}
    /bin/sh -c "command -v octave-cli >/dev/null || { ${skip}; exit 77; }
      exec octave-cli --norc --quiet --no-history --no-window-system \"$0\""
    ${CMAKE_CURRENT_SOURCE_DIR}/kivf_octave_test.m)
set_tests_properties(kivf_octave PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
# The generator of the Octave tables names a template it cannot use, an output it cannot write.
add_test(NAME kivcatgen_names_what_it_cannot_use COMMAND /bin/sh -c
  "said=$({ \"$0\" /nonexistent/t.m.in t.m; echo \" $?\"; \"$0\" \"$1\" /nonexistent/t.m; echo \" $?\"; } 2>&1 | tr '\\n' '|'); [ \"$said\" = \"kivcatgen: /nonexistent/t.m.in cannot be read or has no single @CATALOGUE@| 1|kivcatgen: cannot write /nonexistent/t.m| 1|\" ]"
  $<TARGET_FILE:kivcatgen> ${PROJECT_SOURCE_DIR}/octave/kivcat.m.in)
