# SPDX-License-Identifier: Apache-2.0
# LICENSE holds the whole Apache License 2.0: the same bytes as Debian's copy where that is
# installed, and otherwise its title, its nine sections and its closing line.
# -DLICENSE=<the project's LICENSE> [-DREFERENCE=<a copy to compare with; none if absent>]
cmake_policy(VERSION 3.25)
if(NOT EXISTS "${LICENSE}")
  message(FATAL_ERROR "${LICENSE} is missing")
endif()
file(READ "${LICENSE}" text)
if(NOT DEFINED REFERENCE)
  set(REFERENCE /usr/share/common-licenses/Apache-2.0)
endif()
set(reference ${REFERENCE})
if(EXISTS ${reference})
  file(READ ${reference} expected)
  if(NOT text STREQUAL expected)
    message(FATAL_ERROR "${LICENSE} differs from ${reference}")
  endif()
endif()
set(sections Definitions "Grant of Copyright License" "Grant of Patent License" Redistribution
  "Submission of Contributions" Trademarks "Disclaimer of Warranty" "Limitation of Liability"
  "Accepting Warranty or Additional Liability")
set(n 0)
foreach(title IN LISTS sections)
  math(EXPR n "${n} + 1")
  if(NOT text MATCHES "\n +${n}\\. ${title}\\.")
    message(FATAL_ERROR "${LICENSE} lacks section ${n}, ${title}")
  endif()
endforeach()
if(NOT text MATCHES "^ *\n? *Apache License\n +Version 2\\.0, January 2004\n"
   OR NOT text MATCHES "\n +END OF TERMS AND CONDITIONS\n")
  message(FATAL_ERROR "${LICENSE} is not the Apache License 2.0")
endif()
