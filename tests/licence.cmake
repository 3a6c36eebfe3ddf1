# SPDX-License-Identifier: Apache-2.0
# LICENSE holds the whole Apache License 2.0: its title, its nine sections and its closing line,
# and the same bytes as Debian's copy where that is installed.
# -DLICENSE=<the project's LICENSE>
cmake_policy(VERSION 3.25)
file(READ "${LICENSE}" text)
set(REFERENCE /usr/share/common-licenses/Apache-2.0)
set(expected "${text}")
if(EXISTS ${REFERENCE})
  file(READ ${REFERENCE} expected)
endif()
set(want "^ *\n? *Apache License\n +Version 2\\.0, January 2004\n")
set(n 0)
foreach(title Definitions "Grant of Copyright License" "Grant of Patent License" Redistribution
        "Submission of Contributions" Trademarks "Disclaimer of Warranty" "Limitation of Liability"
        "Accepting Warranty or Additional Liability")
  math(EXPR n "${n} + 1")
  string(APPEND want ".*\n +${n}\\. ${title}\\.")
endforeach()
if(NOT text MATCHES "${want}.*\n +END OF TERMS AND CONDITIONS\n" OR NOT text STREQUAL expected)
  message(FATAL_ERROR "${LICENSE} is not the Apache License 2.0, or differs from ${REFERENCE}")
endif()
