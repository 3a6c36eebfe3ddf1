# SPDX-License-Identifier: Apache-2.0
# The named message numbers, from the table bot/numbers.tab checked against the
# catalogue kivaux/messages: every number in both, each once, nothing else.
# Writes OUT (a C++ header); a mismatch stops the build with the numbers named.
#   cmake -DTABLE=bot/numbers.tab -DCATALOGUE=kivaux/messages -DOUT=numbers.h -P msgnumbers.cmake
cmake_policy(VERSION 3.25)
file(STRINGS ${CATALOGUE} catlines)
set(catnums)
foreach(line IN LISTS catlines)
  string(SUBSTRING "${line}" 0 4 num)
  string(STRIP "${num}" num)
  list(APPEND catnums ${num})
endforeach()

file(STRINGS ${TABLE} rows REGEX "^[0-9]")
set(tabnums)
set(names)
set(consts "")
set(entries "")
foreach(row IN LISTS rows)
  string(REGEX REPLACE "[ \t]+" ";" cols "${row}")
  list(LENGTH cols ncols)
  list(GET cols 0 num)
  list(GET cols 1 kind)
  list(GET cols 2 name)
  set(octave "")
  if(ncols GREATER 3)
    list(GET cols 3 octave)
  endif()
  if(NOT kind MATCHES "^(system|missing|content)$")
    message(FATAL_ERROR "${TABLE}: message ${num} has the unknown kind '${kind}'")
  endif()
  if(num IN_LIST tabnums)
    message(FATAL_ERROR "${TABLE}: message ${num} is named twice")
  endif()
  if(name IN_LIST names)
    message(FATAL_ERROR "${TABLE}: the name ${name} is given twice")
  endif()
  list(APPEND tabnums ${num})
  list(APPEND names ${name})
  string(APPEND consts "inline constexpr std::int32_t kMsg${name} = ${num};\n")
  string(APPEND entries "    {${num}, MsgKind::${kind}, \"${name}\", \"${octave}\"},\n")
endforeach()

set(missing)
foreach(num IN LISTS catnums)
  if(NOT num IN_LIST tabnums)
    list(APPEND missing ${num})
  endif()
endforeach()
set(extra)
foreach(num IN LISTS tabnums)
  if(NOT num IN_LIST catnums)
    list(APPEND extra ${num})
  endif()
endforeach()
if(missing OR extra)
  message(FATAL_ERROR "${TABLE} and ${CATALOGUE} disagree: "
    "in the catalogue only: ${missing}; in the table only: ${extra}")
endif()
list(LENGTH tabnums count)

file(WRITE ${OUT}.tmp
"// Generated from bot/numbers.tab at configure time; do not edit.
#pragma once

#include <cstdint>

namespace kivf {

// What a failure is about: the system failed (missing: because a file does
// not exist), or what was given or found is refused.
enum class MsgKind : std::int32_t { content, system, missing };

${consts}
struct MsgEntry {
    std::int32_t number;
    MsgKind kind;
    const char* name;   // the constant's name without kMsg
    const char* octave; // Octave's error identifier, or empty
};

inline constexpr MsgEntry kMsgTable[${count}] = {
${entries}};

// The kind of a message number; content for a number the table lacks.
constexpr MsgKind msgkind(std::int32_t number) {
    for (const MsgEntry& e : kMsgTable)
        if (e.number == number) return e.kind;
    return MsgKind::content;
}

} // namespace kivf
")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.tmp)
