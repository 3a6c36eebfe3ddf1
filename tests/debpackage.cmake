# SPDX-License-Identifier: Apache-2.0
# The Debian package, unpacked: its programs, plug-in and Python package work where they lie;
# Debian's demands are met (the copyright file, changelog and manual pages, stripped binaries,
# machine code outside /usr/share, shlibs, no error from lintian).
# -DBUILD=<build> -DWORK=<scratch> -DCPACK=<cpack> -DPYTHON=<interpreter or empty> -DMSXLATE=<built?>
cmake_policy(VERSION 3.25)
find_program(DPKG_DEB dpkg-deb)
if(NOT DPKG_DEB)
  message("SKIPPED: dpkg-deb is not installed") # the test's SKIP_REGULAR_EXPRESSION
  return()
endif()
find_program(READELF readelf REQUIRED)
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CPACK} -G DEB --config ${BUILD}/CPackConfig.cmake -B ${WORK}
                OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
file(GLOB deb ${WORK}/*.deb)
set(root ${WORK}/root)
function(run var) # ARGN's output in var; fails the test when it fails
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc
                  OUTPUT_STRIP_TRAILING_WHITESPACE WORKING_DIRECTORY ${WORK})
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN}: status ${rc}: ${err}")
  endif()
  set(${var} "${out}" PARENT_SCOPE)
endfunction()
run(files ${DPKG_DEB} --contents ${deb})
run(depends ${DPKG_DEB} --field ${deb} Depends)
run(version ${DPKG_DEB} --field ${deb} Version)
run(shlibs ${DPKG_DEB} --info ${deb} shlibs)
run(unused ${DPKG_DEB} --extract ${deb} ${root})

# What the package holds (each a line of dpkg-deb's listing: mode ... ./path), and what it needs.
set(p "[^\n]* \\./usr")
set(held "-rw-r--r--${p}/share/doc/kivf/copyright" "${p}/share/doc/kivf/changelog\\.gz"
    "${p}/share/man/man1/kivhdr\\.1\\.gz")
set(programs kivhdr)
set(needs)
set(binaries usr/bin/kivhdr usr/lib/libkivf.so.${version} usr/lib/libkivf.a usr/lib/kivf/sphgeo.mex)
if(MSXLATE) # the miniSEED programs and their pages with libmseed as a need, or not at all
  list(APPEND programs msxlate kiv2ms)
  list(APPEND held "${p}/share/man/man1/msxlate\\.1\\.gz" "${p}/share/man/man1/kiv2ms\\.1\\.gz")
  list(APPEND needs libmseed2)
elseif(files MATCHES "msxlate|kiv2ms" OR depends MATCHES "mseed")
  message(FATAL_ERROR "a miniSEED program is packaged although it was not built: ${depends}\n${files}")
endif()
if(PYTHON) # the command kivf's page; the command, the module and its extension are run below
  list(APPEND held "${p}/share/man/man1/kivf\\.1\\.gz")
  list(APPEND needs python3-numpy)
  list(APPEND binaries usr/lib/python3/dist-packages/kivf/_kivf)
endif()
foreach(h IN LISTS held)
  if(NOT files MATCHES "(^|\n)${h}(\n|$)")
    message(FATAL_ERROR "'${h}' is not in the package:\n${files}")
  endif()
endforeach()
foreach(d IN LISTS needs)
  if(NOT depends MATCHES "(^|, )${d}(,|$)")
    message(FATAL_ERROR "the need of ${d} is missing: ${depends}")
  endif()
endforeach()
if(files MATCHES "site-packages|/man/man[1-9]/[^\n]*\\.[1-9](\n|$)")
  message(FATAL_ERROR "a Python module in site-packages, or a manual page not compressed:\n${files}")
endif()
foreach(program IN LISTS programs)
  run(shown ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH ${root}/usr/bin/${program} --version)
  if(NOT shown STREQUAL "${program} ${version}")
    message(FATAL_ERROR "the unpacked ${program} says '${shown}', not '${program} ${version}'")
  endif()
endforeach()

# The copyright file: the format's header, Files paragraphs each with a copyright and a
# licence that a License paragraph gives, the project's text, nothing left to fill in.
file(READ ${root}/usr/share/doc/kivf/copyright text)
string(REGEX MATCHALL "(^|\n\n)Files: [^\n]*(\n[^\n]+)*" paragraphs "${text}")
foreach(p IN LISTS paragraphs)
  string(REGEX MATCH "\nLicense: ([^\n]+)" l "${p}")
  if(NOT p MATCHES "\nCopyright: [^\n]*[0-9][0-9][0-9][0-9]" OR NOT l
     OR NOT text MATCHES "\n\nLicense: ${CMAKE_MATCH_1}\n ")
    message(FATAL_ERROR "a Files paragraph without a copyright, or its licence not given:\n${p}")
  endif()
endforeach()
if(NOT text MATCHES "^Format: https://www\\.debian\\.org/doc/packaging-manuals/copyright-format/1\\.0/\n"
   OR NOT text MATCHES "\nUpstream-Name: kivf\n"
   OR NOT text MATCHES "\n\nFiles: \\*\nCopyright: 2026 kivf developers\nLicense: Apache-2.0\n"
   OR NOT text MATCHES "\n\nLicense: Apache-2.0\n Licensed under the Apache License, Version 2\\.0 "
   OR NOT text MATCHES " Version 2\\.0\n can be found in \"/usr/share/common-licenses/Apache-2\\.0\"\\.\n$"
   OR text MATCHES "@[A-Z_]+@|(^|\n)#")
  message(FATAL_ERROR "the copyright file is not the project's machine-readable one:\n${text}")
endif()

# The changelog as gzip -9n writes it (no flags: no name; no time; the best compression), its
# latest entry this version.
file(READ ${root}/usr/share/doc/kivf/changelog.gz gz LIMIT 10 HEX)
run(entry gzip -dc ${root}/usr/share/doc/kivf/changelog.gz)
set(trailer "\n -- [^<\n]+ <[^@>\n]+@[^>\n]+>  [A-Z][a-z][a-z], [0-9][0-9] [A-Z][a-z][a-z] [0-9]+ ")
if(NOT gz MATCHES "^1f8b08000000000002" OR NOT entry MATCHES "${trailer}"
   OR NOT entry MATCHES "^kivf \\(([^)]+)\\) [a-z]+; urgency=[a-z]+\n" OR NOT CMAKE_MATCH_1 STREQUAL version)
  message(FATAL_ERROR "changelog.gz is not as gzip -9n writes it (${gz}) or not for ${version}:\n${entry}")
endif()

# Every ELF file and archive without debug information; the ELF files without symbol tables
# either (their dynamic symbols are all they need).
file(GLOB_RECURSE unpacked LIST_DIRECTORIES false ${root}/*)
set(checked)
foreach(f IN LISTS unpacked) # links followed: a dangling one fails here
  file(READ ${f} magic LIMIT 8 HEX)
  if(NOT magic MATCHES "^7f454c46|^213c617263683e0a$")
    continue()
  endif()
  file(RELATIVE_PATH rel ${root} ${f})
  list(APPEND checked ${rel})
  run(sections ${READELF} -S -W ${f})
  if(NOT sections MATCHES "\\.text" OR sections MATCHES "\\.(debug_|zdebug_|gnu_debugdata)"
     OR (magic MATCHES "^7f454c46" AND sections MATCHES "\\.symtab"))
    message(FATAL_ERROR "${rel} is not stripped (debug sections or a symbol table):\n${sections}")
  endif()
endforeach()
foreach(e IN LISTS binaries)
  if(NOT checked MATCHES "(^|;)${e}")
    message(FATAL_ERROR "${e} is not among the binaries checked: ${checked}")
  endif()
endforeach()

# The library's shlibs entry names its soname.
run(soname ${READELF} -d ${root}/usr/lib/libkivf.so.${version})
string(REGEX MATCH "Library soname: \\[libkivf\\.so\\.([0-9]+)\\]" unused "${soname}")
if(NOT shlibs STREQUAL "libkivf ${CMAKE_MATCH_1} kivf (>= ${version})")
  message(FATAL_ERROR "shlibs '${shlibs}' does not match the library:\n${soname}")
endif()

# The plug-in is machine code under /usr/lib; Octave finds it beside its help text in share/kivf,
# by a link, and runs it: 90 degrees along the equator, a quarter of the 6371 km sphere's
# circumference, leaving due east and arriving from due west.
file(REAL_PATH ${root}/usr/share/kivf/sphgeo.mex target)
file(REAL_PATH ${root}/usr/lib/kivf/sphgeo.mex mex)
if(NOT IS_SYMLINK ${root}/usr/share/kivf/sphgeo.mex OR IS_SYMLINK ${root}/usr/lib/kivf/sphgeo.mex
   OR NOT target STREQUAL mex)
  message(FATAL_ERROR "the plug-in is not in usr/lib/kivf with a link in usr/share/kivf:\n${files}")
endif()
find_program(OCTAVE octave-cli)
if(OCTAVE)
  run(shown ${OCTAVE} --no-gui --norc --quiet --eval
      "addpath('${root}/usr/share/kivf')\n[d, k, a, b] = sphgeo(0, 90, 0, 0)\;
printf('%s %.3f %.1f %.3f %.3f', which('sphgeo'), d, k, a, b)")
  if(NOT shown STREQUAL "${root}/usr/share/kivf/sphgeo.mex 90.000 10007.5 90.000 270.000")
    message(FATAL_ERROR "Octave and the unpacked plug-in: '${shown}'")
  endif()
else()
  message("octave-cli is not installed: the unpacked plug-in is not run")
endif()

# Lintian's overrides each say why, in a comment above; lintian itself finds no error.
set(overrides ${root}/usr/share/lintian/overrides/kivf)
if(EXISTS ${overrides})
  file(READ ${overrides} text)
  if(text MATCHES "^kivf|(^|\n)([^#\n][^\n]*)?\nkivf")
    message(FATAL_ERROR "a lintian override has no comment saying why:\n${text}")
  endif()
endif()
find_program(LINTIAN lintian)
if(LINTIAN)
  execute_process(COMMAND ${LINTIAN} --fail-on error ${deb} RESULT_VARIABLE rc) # what it says shown
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "lintian: status ${rc}")
  endif()
else()
  message("lintian is not installed: the package is not checked by it")
endif()

# Debian's interpreter searches dist-packages: the unpacked copy's module writes and reads, and
# the unpacked command runs it with the interpreter it names, without PYTHONPATH.
if(PYTHON)
  set(site ${root}/usr/lib/python3/dist-packages)
  run(shown ${CMAKE_COMMAND} -E env PYTHONPATH=${site} ${PYTHON} -c
      "import kivf\nkivf.write('t.kiv', [1.5, -2.0], delta=0.5)\nprint(kivf.__file__, list(kivf.read('t.kiv').data))")
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=PYTHONPATH PYTHONVERBOSE=1
                  ${root}/usr/bin/kivf info t.kiv OUTPUT_VARIABLE info ERROR_VARIABLE imported
                  RESULT_VARIABLE rc WORKING_DIRECTORY ${WORK})
  file(REAL_PATH ${site} real) # as the command finds it, links resolved
  string(FIND "${imported}" "${real}/kivf/__init__.py" at)
  if(NOT shown STREQUAL "${site}/kivf/__init__.py [1.5, -2.0]" OR NOT rc EQUAL 0
     OR NOT info MATCHES "\nNPTS +2\n" OR at EQUAL -1)
    message(FATAL_ERROR "the unpacked package: '${shown}'; kivf info, status ${rc}, not from ${site}:\n${info}")
  endif()
endif()
