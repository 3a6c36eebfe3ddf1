# SPDX-License-Identifier: Apache-2.0
# spdx.cmake on a made-up tree: it must fail, naming exactly the sources without the licence
# line, and pass over data, build folders and files that are not source.
# -DCHECKER=<spdx.cmake> -DWORK=<scratch folder>
cmake_policy(VERSION 3.25)
set(id "SPDX-License-Identifier: Apache-2.0")
# path | content ("\n" written as a newline) | whether the checker must name it
set(cases
  "a.cpp|// ${id}\\nint a\\n|ok"
  "s.sh|#!/bin/sh\\n# ${id}\\necho\\n|ok"
  "tools/tool|#!/usr/bin/env python3\\n# ${id}\\n|ok"
  "CMakeLists.txt|# ${id}\\nproject(x)\\n|ok"
  "octave/x.m|% ${id}\\n|ok"
  "man/p.1|.\\\\\" ${id}\\n.TH P 1\\n|ok"
  "notes.txt|plain\\n|ok" # neither named as source nor with a shebang
  "fuzz/corpus/t/seed.cpp|garbage\\n|ok"
  "build/gen.cpp|int g\\n|ok"
  "build-asan/x.h|int x\\n|ok"
  "sub/build/y.py|import os\\n|ok"
  "b.cpp|// Header\\n// More\\n// ${id}\\n|bad"
  "lib/c.h|#pragma once\\n|bad"
  "d.py|# SPDX-License-Identifier: MIT\\n|bad"
  "tools/run|#!/bin/bash\\necho hi\\n|bad"
  "cmake/e.cmake|set(x 1)\\n|bad"
  "octave/f.m.in|% tables\\n|bad"
  "man/q.1|.TH Q 1\\n|bad"
  "g.sh|#!/bin/sh\\n\\n# ${id}\\n|bad"
  "empty.hpp||bad")
file(REMOVE_RECURSE ${WORK})
set(expected)
foreach(c IN LISTS cases)
  string(REPLACE "|" ";" f "${c}")
  list(GET f 0 path)
  list(GET f 1 text)
  string(REPLACE "\\n" "\n" text "${text}")
  string(REPLACE "\\\\" "\\" text "${text}")
  file(WRITE ${WORK}/${path} "${text}")
  if(c MATCHES "\\|bad$")
    list(APPEND expected ${path})
  endif()
endforeach()
list(SORT expected)
list(LENGTH expected nbad)
math(EXPR all "${nbad} + 6") # the six good sources at the head of the table
execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${WORK} -P ${CHECKER} ERROR_VARIABLE err RESULT_VARIABLE rc)
# The names it gives, one a line, indented, after its summary.
string(REGEX MATCH "\n?([0-9]+ of [0-9]+) source files lack[^\n]*\n((  [^\n]*\n)*)" unused "${err}")
set(summary "${CMAKE_MATCH_1}")
string(REGEX REPLACE "  ([^\n]*)\n" "\\1;" named "${CMAKE_MATCH_2}")
list(REMOVE_ITEM named "")
list(SORT named)
if(rc EQUAL 0 OR NOT named STREQUAL expected OR NOT summary STREQUAL "${nbad} of ${all}")
  message(FATAL_ERROR "status ${rc}; the checker named:\n  ${named}\nnot:\n  ${expected}\n"
                      "(summary '${summary}', not '${nbad} of ${all}')\n${err}")
endif()
