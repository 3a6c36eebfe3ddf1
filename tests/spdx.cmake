# SPDX-License-Identifier: Apache-2.0
# Every source file and manual page under ROOT names its licence in its first two lines: fails
# with the names of those that do not. Data, build folders (build, build-*) and .git are left
# alone; git is not needed.   -DROOT=<source tree>
cmake_policy(VERSION 3.25)
set(spdx "SPDX-License-Identifier: Apache-2.0")
# Names that are source whatever they hold; other files count as source only when a shebang
# names sh, bash or python.
set(source_name "\\.(c|cc|cpp|cxx|h|hh|hpp|hxx|ipp|inl|py|sh|bash|cmake|cmake\\.in|m|m\\.in|[1-9])$|^CMakeLists\\.txt$")
set(data_path "^kivaux/messages$|^fuzz/corpus/|^examples/out/|\\.(json|md|png|jpe?g|gif|svg|bin|kiv)$")
set(checked 0)
set(offending)
# Walks the tree by hand so that build folders are pruned rather than listed and dropped.
function(walk dir rel)
  file(GLOB entries LIST_DIRECTORIES true RELATIVE "${dir}" "${dir}/*" "${dir}/.*")
  list(SORT entries)
  foreach(e IN LISTS entries)
    set(path "${dir}/${e}")
    if(e MATCHES "^\\.\\.?$" OR IS_SYMLINK "${path}" OR "${rel}${e}" MATCHES "${data_path}")
      continue()
    elseif(IS_DIRECTORY "${path}")
      if(NOT e MATCHES "^(build|build-.*|\\.git)$")
        walk("${path}" "${rel}${e}/")
      endif()
      continue()
    endif()
    file(READ "${path}" head LIMIT 1024)
    if(e MATCHES "${source_name}" OR head MATCHES "^#![^\n]*[/ ](sh|bash|dash|python[0-9.]*)[ \n]")
      math(EXPR checked "${checked} + 1")
      if(NOT head MATCHES "^([^\n]*\n)?[^\n]*SPDX-License-Identifier: Apache-2\\.0")
        list(APPEND offending "${rel}${e}")
      endif()
    endif()
  endforeach()
  set(checked ${checked} PARENT_SCOPE)
  set(offending ${offending} PARENT_SCOPE)
endfunction()

walk("${ROOT}" "")
list(LENGTH offending bad)
if(bad GREATER 0)
  list(JOIN offending "\n  " names)
  # Unformatted, so that the names stand one a line as written.
  message("${bad} of ${checked} source files lack '${spdx}' in their first two lines:\n  ${names}")
  message(FATAL_ERROR "licence lines missing (see the list above)")
elseif(checked EQUAL 0)
  message(FATAL_ERROR "no source files found under ${ROOT}")
endif()
message(STATUS "${checked} source files carry '${spdx}'")
