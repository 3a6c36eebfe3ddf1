# SPDX-License-Identifier: Apache-2.0
# Every source file and manual page under ROOT names its licence in its first two lines (the
# second when the first is a shebang or the like): fails with the names of those that do not.
# Data is left alone: the message catalogue, the fuzz corpus, the examples' tables, pictures,
# JSON and markdown. Build folders (build, build-*) and .git are skipped; git is not needed.
# -DROOT=<source tree>
cmake_policy(VERSION 3.25)
if(NOT IS_DIRECTORY "${ROOT}")
  message(FATAL_ERROR "ROOT '${ROOT}' is not a directory")
endif()
set(spdx "SPDX-License-Identifier: Apache-2.0")
# Names that are source whatever they hold; other files count as source only when a shebang
# names sh, bash or python.
set(source_name
  "\\.(c|cc|cpp|cxx|h|hh|hpp|hxx|ipp|inl)$"
  "\\.py$"
  "\\.(sh|bash)$"
  "(^CMakeLists\\.txt|\\.cmake|\\.cmake\\.in)$"
  "\\.m(\\.in)?$"
  "\\.[1-9]$")
# Relative paths never looked at (data, or not ours to write).
set(data_path
  "^kivaux/messages$"
  "^fuzz/corpus/"
  "^examples/out/"
  "\\.(json|md|png|jpe?g|gif|svg|bin|kiv)$")

set(checked 0)
set(offending)
function(check_file path rel)
  foreach(re IN LISTS data_path)
    if(rel MATCHES "${re}")
      return()
    endif()
  endforeach()
  get_filename_component(name "${path}" NAME)
  file(READ "${path}" head LIMIT 1024)
  # The first two lines (a file without a newline is one line).
  set(two "")
  if(NOT head STREQUAL "") # an empty match is an error to string(REGEX)
    string(REGEX MATCH "^[^\n]*(\n[^\n]*)?" two "${head}")
  endif()
  set(is_source FALSE)
  foreach(re IN LISTS source_name)
    if(name MATCHES "${re}")
      set(is_source TRUE)
    endif()
  endforeach()
  if(NOT is_source AND head MATCHES "^#![^\n]*[/ ](sh|bash|dash|python[0-9.]*)[ \n]")
    set(is_source TRUE)
  endif()
  if(NOT is_source)
    return()
  endif()
  math(EXPR n "${checked} + 1")
  set(checked ${n} PARENT_SCOPE)
  string(FIND "${two}" "${spdx}" at)
  if(at EQUAL -1)
    set(offending ${offending} "${rel}" PARENT_SCOPE)
  endif()
endfunction()

# Walks the tree by hand so that build folders are pruned rather than listed and dropped.
function(walk dir rel)
  file(GLOB entries LIST_DIRECTORIES true RELATIVE "${dir}" "${dir}/*" "${dir}/.*")
  list(SORT entries)
  foreach(e IN LISTS entries)
    if(e STREQUAL "." OR e STREQUAL "..")
      continue()
    endif()
    set(path "${dir}/${e}")
    if(rel STREQUAL "")
      set(r "${e}")
    else()
      set(r "${rel}/${e}")
    endif()
    if(IS_SYMLINK "${path}")
      continue()
    elseif(IS_DIRECTORY "${path}")
      if(NOT e MATCHES "^(build|build-.*|\\.git)$")
        walk("${path}" "${r}")
      endif()
    else()
      check_file("${path}" "${r}")
    endif()
  endforeach()
  set(checked ${checked} PARENT_SCOPE)
  set(offending ${offending} PARENT_SCOPE)
endfunction()

walk("${ROOT}" "")
if(offending)
  list(LENGTH offending bad)
  list(JOIN offending "\n  " names)
  # Unformatted, so that the names stand one a line as written.
  message("${bad} of ${checked} source files lack '${spdx}' in their first two lines:\n  ${names}")
  message(FATAL_ERROR "licence lines missing (see the list above)")
endif()
if(checked EQUAL 0)
  message(FATAL_ERROR "no source files found under ${ROOT}")
endif()
message(STATUS "${checked} source files carry '${spdx}'")
