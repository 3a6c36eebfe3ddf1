# SPDX-License-Identifier: Apache-2.0
# The command kivf: a Python script that runs the package's command line as "kivf" with the
# interpreter the package was built for, whatever python3 comes first on PATH. It imports the
# package from a directory given relative to its own (symbolic links resolved), so that a tree
# moved whole (DESTDIR, the Debian package) still works. The build tree's is written when
# configuring, the installed one when installing: where the package goes is known only then.

# kivf_command(FILE PYTHON BINDIR PKGDIR): writes FILE, mode 755, a script that will lie in
# BINDIR and import kivf from PKGDIR (the directory holding kivf/), both absolute.
function(kivf_command file python bindir pkgdir)
  file(RELATIVE_PATH rel "${bindir}" "${pkgdir}")
  if(rel STREQUAL "")
    set(rel .)
  endif()
  string(REPLACE "\\" "\\\\" rel "${rel}")
  string(REPLACE "\"" "\\\"" rel "${rel}")
  # The kernel splits the first line at a blank and reads only so much of it (127 bytes before
  # Linux 5.1): an interpreter it cannot start directly is started by sh, and what sh reads is a
  # string to Python.
  string(LENGTH "#!${python}" n)
  if(NOT python MATCHES "[ \t]" AND n LESS 128)
    set(head "#!${python}\n")
  elseif(python MATCHES "[\"$`\\\\\n]|'''")
    message(FATAL_ERROR "kivf command: cannot be started by the interpreter ${python}")
  else()
    set(head "#!/bin/sh\n'''exec' \"${python}\" \"$0\" \"$@\"\n' '''\n")
  endif()
  file(WRITE "${file}" "${head}\
# kivf's command line, the package found relative to this file (written by CMake).
import os
import sys

here = os.path.dirname(os.path.realpath(__file__))
sys.path.insert(0, os.path.normpath(os.path.join(here, \"${rel}\")))
from kivf.__main__ import main  # noqa: E402

sys.exit(main(prog=\"kivf\"))
")
  file(CHMOD "${file}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
       WORLD_READ WORLD_EXECUTE)
endfunction()

# kivf_install_command(PYTHON BINDIR): when installing, once KIVF_PYTHON_DEST is set, the
# command in BINDIR (relative to the prefix, or absolute) for the package under
# KIVF_PYTHON_DEST, under DESTDIR when it is set, as file(INSTALL) puts files.
function(kivf_install_command python bindir)
  cmake_path(ABSOLUTE_PATH bindir BASE_DIRECTORY "${CMAKE_INSTALL_PREFIX}" NORMALIZE)
  set(pkgdir "${KIVF_PYTHON_DEST}")
  cmake_path(ABSOLUTE_PATH pkgdir BASE_DIRECTORY "${CMAKE_INSTALL_PREFIX}" NORMALIZE)
  set(file "$ENV{DESTDIR}${bindir}/kivf")
  message(STATUS "Installing: ${file}")
  kivf_command("${file}" "${python}" "${bindir}" "${pkgdir}")
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${file}")
  set(CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_MANIFEST_FILES}" PARENT_SCOPE)
endfunction()
