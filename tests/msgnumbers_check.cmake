# SPDX-License-Identifier: Apache-2.0
# The configure-time check of bot/numbers.tab against the catalogue passes on the real files and
# stops, naming the cause and writing nothing, on a catalogue short of its last line and on a
# misspelt kind.   cmake -DSOURCE=<source dir> -DWORK=<scratch dir> -P msgnumbers_check.cmake
file(REMOVE_RECURSE ${WORK})
function(check table catalogue failure) # failure: empty, or what the check must stop with
  file(REMOVE ${WORK}/numbers.h)
  execute_process(COMMAND ${CMAKE_COMMAND} -DTABLE=${table} -DCATALOGUE=${catalogue}
    -DOUT=${WORK}/numbers.h -P ${SOURCE}/cmake/msgnumbers.cmake RESULT_VARIABLE rc ERROR_VARIABLE err)
  string(REGEX REPLACE "[ \n]+" " " err "${err}") # CMake wraps its messages to the width
  if(NOT (failure STREQUAL "" AND rc EQUAL 0) AND (failure STREQUAL "" OR rc EQUAL 0
     OR NOT err MATCHES "${failure}" OR EXISTS ${WORK}/numbers.h))
    message(FATAL_ERROR "${table}, ${catalogue}: status ${rc}, expected '${failure}': ${err}")
  endif()
endfunction()

check(${SOURCE}/bot/numbers.tab ${SOURCE}/kivaux/messages "")
file(READ ${SOURCE}/kivaux/messages lines)
string(REGEX MATCH "\n *([0-9]+) [^\n]*\n$" last "${lines}")
set(dropped ${CMAKE_MATCH_1})
string(REGEX REPLACE "[^\n]*\n$" "" lines "${lines}")
file(WRITE ${WORK}/messages "${lines}")
check(${SOURCE}/bot/numbers.tab ${WORK}/messages "in the table only: ${dropped}([^0-9]|$)")

file(READ ${SOURCE}/bot/numbers.tab rows)
string(REGEX REPLACE "\n([0-9]+[ \t]+)system" "\n\\1sytem" rows "${rows}")
file(WRITE ${WORK}/numbers.tab "${rows}")
check(${WORK}/numbers.tab ${SOURCE}/kivaux/messages "has the unknown kind 'sytem'")
