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
  "README.md|# Title\\n|ok"
  "notes.txt|plain\\n|ok"
  "data.json|{}\\n|ok"
  "pic.png|PNG\\n|ok"
  "examples/demo.wfdisc|sta chan\\n|ok"
  "kivaux/messages|1 text\\n|ok"
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
set(sources 0)
foreach(c IN LISTS cases)
  string(REPLACE "|" ";" f "${c}")
  list(GET f 0 path)
  list(GET f 1 text)
  list(GET f 2 verdict)
  string(REPLACE "\\n" "\n" text "${text}")
  string(REPLACE "\\\\" "\\" text "${text}")
  file(WRITE ${WORK}/${path} "${text}")
  if(verdict STREQUAL "bad")
    list(APPEND expected ${path})
  endif()
endforeach()
list(SORT expected)
list(LENGTH expected nbad)

execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${WORK} -P ${CHECKER}
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
if(rc EQUAL 0)
  message(FATAL_ERROR
    "the checker passed a tree with ${nbad} files lacking the line:\n${out}${err}")
endif()
# The names it gives, one a line, indented, after its summary.
string(REGEX MATCH "([0-9]+) of ([0-9]+) source files lack[^\n]*\n((  [^\n]*\n)*)" unused "${err}")
set(summary_bad "${CMAKE_MATCH_1}")
set(summary_all "${CMAKE_MATCH_2}")
string(REGEX MATCHALL "\n  [^ \n][^\n]*" lines "\n${CMAKE_MATCH_3}")
set(named)
foreach(l IN LISTS lines)
  string(STRIP "${l}" l)
  list(APPEND named "${l}")
endforeach()
list(SORT named)
# Source files among the cases: the bad ones and the six good ones at the head of the table.
math(EXPR all "${nbad} + 6")
if(NOT named STREQUAL expected OR NOT summary_bad EQUAL nbad OR NOT summary_all EQUAL all)
  message(FATAL_ERROR "the checker named:\n  ${named}\nnot:\n  ${expected}\n"
                      "(summary ${summary_bad} of ${summary_all}, not ${nbad} of ${all})\n${err}")
endif()

# Mended, the same tree passes.
foreach(path IN LISTS expected)
  file(READ ${WORK}/${path} text)
  if(text MATCHES "^#!")
    string(REGEX REPLACE "^(#![^\n]*\n)" "\\1# ${id}\n" text "${text}")
  else()
    set(text "# ${id}\n${text}")
  endif()
  file(WRITE ${WORK}/${path} "${text}")
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${WORK} -P ${CHECKER}
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT out MATCHES "-- ${all} source files carry")
  message(FATAL_ERROR "the mended tree: status ${rc}:\n${out}${err}")
endif()
