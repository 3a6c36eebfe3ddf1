# SPDX-License-Identifier: Apache-2.0
# Run by CPack on the staged tree of the Debian package, before it is packed: what Debian
# wants of a package but a plain install (cmake --install) need not do.
#  - ELF files lose their debug information, symbol tables and compiler notes, as Debian's
#    own tools strip them; the static library keeps its symbols (linkers need them) but
#    not its debug information. The build tree keeps everything for debugging.
#  - Manual pages are compressed (gzip -9n: no name or time stamp, the same bytes each time).
#  - The Octave plug-in is machine code, which has no place under /usr/share: it moves to
#    /usr/lib/kivf, and a link in its old place keeps addpath('/usr/share/kivf') working.
#  - Lintian's overrides for the package go where lintian looks for them.
# CPACK_KIVF_STRIP, CPACK_KIVF_GZIP and CPACK_KIVF_OVERRIDES come from CMakeLists.txt.
cmake_policy(VERSION 3.25)
set(root "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
if(NOT IS_DIRECTORY "${root}")
  message(FATAL_ERROR "no staged tree at ${root}")
endif()
foreach(v CPACK_KIVF_STRIP CPACK_KIVF_GZIP CPACK_KIVF_OVERRIDES)
  if(NOT ${v})
    message(FATAL_ERROR "${v} is not set")
  endif()
endforeach()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN}: status ${rc}: ${err}")
  endif()
endfunction()

# The plug-in first, so that the stripping below finds it in its new place.
set(mex share/kivf/sphgeo.mex)
if(EXISTS "${root}/${mex}" AND NOT IS_SYMLINK "${root}/${mex}")
  file(MAKE_DIRECTORY "${root}/lib/kivf")
  file(RENAME "${root}/${mex}" "${root}/lib/kivf/sphgeo.mex")
  file(CREATE_LINK ../../lib/kivf/sphgeo.mex "${root}/${mex}" SYMBOLIC)
endif()

file(GLOB_RECURSE files LIST_DIRECTORIES false "${root}/*")
foreach(f IN LISTS files)
  if(IS_SYMLINK "${f}")
    continue()
  endif()
  file(READ "${f}" magic LIMIT 8 HEX)
  if(magic MATCHES "^7f454c46") # ELF: program, shared library or plug-in
    run(${CPACK_KIVF_STRIP} --strip-unneeded --remove-section=.comment --remove-section=.note
        "${f}")
  elseif(magic STREQUAL "213c617263683e0a") # !<arch>\n: the static library
    run(${CPACK_KIVF_STRIP} --strip-debug --remove-section=.comment --remove-section=.note
        --enable-deterministic-archives "${f}")
  endif()
endforeach()

file(GLOB_RECURSE pages LIST_DIRECTORIES false "${root}/share/man/*")
foreach(page IN LISTS pages)
  if(page MATCHES "\\.[1-9]$" AND NOT IS_SYMLINK "${page}")
    run(${CPACK_KIVF_GZIP} -9nf "${page}")
  endif()
endforeach()

file(MAKE_DIRECTORY "${root}/share/lintian/overrides")
file(COPY_FILE "${CPACK_KIVF_OVERRIDES}" "${root}/share/lintian/overrides/kivf")
file(CHMOD "${root}/share/lintian/overrides/kivf" FILE_PERMISSIONS OWNER_READ OWNER_WRITE
     GROUP_READ WORLD_READ)
