# SPDX-License-Identifier: Apache-2.0
# The Debian package as built: the Python package where Debian's python3 looks, the packages
# it needs, and an unpacked copy that works where it lies: its program runs, its kivf imports
# and converts. Debian's own demands: a machine-readable copyright file, a changelog and
# manual pages compressed as Debian compresses them, no debug information in any binary, the
# plug-in outside /usr/share, shlibs that match the library, and no error from lintian.
# -DBUILD=<build folder> -DWORK=<scratch folder> -DCPACK=<cpack> -DPYTHON=<interpreter or empty>
# -DMSXLATE=<whether msxlate is built>
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
function(run var) # ARGN's output in var; fails the test when it fails
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc
                  OUTPUT_STRIP_TRAILING_WHITESPACE
                  WORKING_DIRECTORY ${WORK})
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN}: status ${rc}: ${err}")
  endif()
  set(${var} "${out}" PARENT_SCOPE)
endfunction()
run(files ${DPKG_DEB} --contents ${deb})
run(depends ${DPKG_DEB} --field ${deb} Depends)
run(version ${DPKG_DEB} --field ${deb} Version)
file(MAKE_DIRECTORY ${WORK}/root)
run(unused ${DPKG_DEB} --extract ${deb} ${WORK}/root)
run(shown ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH ${WORK}/root/usr/bin/kivhdr --version)
if(NOT shown STREQUAL "kivhdr ${version}")
  message(FATAL_ERROR "the unpacked kivhdr says '${shown}', not 'kivhdr ${version}'")
endif()

# The copyright file: machine-readable (a header paragraph naming the format, then paragraphs
# of files, each with its copyright and licence, and the licence's own paragraph), Apache-2.0.
set(copyright ${WORK}/root/usr/share/doc/kivf/copyright)
if(NOT files MATCHES "(^|\n)-rw-r--r-- [^\n]* \\./usr/share/doc/kivf/copyright(\n|$)")
  message(FATAL_ERROR "usr/share/doc/kivf/copyright (mode 644) is not in the package:\n${files}")
endif()
file(READ ${copyright} text)
string(REPLACE ";" "," paragraphs "${text}") # a list of paragraphs: no other semicolons
string(REGEX REPLACE "\n\n+" ";" paragraphs "${paragraphs}")
list(POP_FRONT paragraphs header)
set(licences_used)
set(licences_given)
foreach(p IN LISTS paragraphs)
  if(p MATCHES "^Files: ")
    if(NOT p MATCHES "\nCopyright: [^\n]*[0-9][0-9][0-9][0-9]"
       OR NOT p MATCHES "\nLicense: ([^\n]+)")
      message(FATAL_ERROR "a Files paragraph without a copyright or licence:\n${p}")
    endif()
    list(APPEND licences_used "${CMAKE_MATCH_1}")
  elseif(p MATCHES "^License: ([^\n]+)\n ")
    list(APPEND licences_given "${CMAKE_MATCH_1}")
  else()
    message(FATAL_ERROR "the copyright file has a paragraph of no known kind:\n${p}")
  endif()
endforeach()
foreach(l IN LISTS licences_used)
  if(NOT l IN_LIST licences_given)
    message(FATAL_ERROR "licence ${l} is named in the copyright file but not given")
  endif()
endforeach()
set(format https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/)
if(NOT header MATCHES "^Format: ${format}\n"
   OR NOT header MATCHES "\nUpstream-Name: kivf(\n|$)"
   OR NOT text MATCHES "\nFiles: \\*\nCopyright: 2026 kivf developers\nLicense: Apache-2.0\n"
   OR NOT text MATCHES "\nLicense: Apache-2.0\n Licensed under the Apache License, Version 2\\.0 "
   OR NOT text MATCHES
      " Version 2\\.0\n can be found in \"/usr/share/common-licenses/Apache-2\\.0\"\\.\n$"
   OR text MATCHES "@[A-Z_]+@|(^|\n)#")
  message(FATAL_ERROR "the copyright file is not the project's machine-readable one:\n${text}")
endif()

# The changelog, as gzip -9n writes it (no name, no time, the best compression: gzip's header
# bytes 3, 4-7 and 8), its latest entry this version.
set(changelog ${WORK}/root/usr/share/doc/kivf/changelog.gz)
if(NOT EXISTS ${changelog})
  message(FATAL_ERROR "usr/share/doc/kivf/changelog.gz is not in the package:\n${files}")
endif()
file(READ ${changelog} gz LIMIT 10 HEX)
if(NOT gz MATCHES "^1f8b08(..)00000000(..)")
  message(FATAL_ERROR "changelog.gz is not gzip or has a time in it: ${gz}")
endif()
math(EXPR name_flag "0x${CMAKE_MATCH_1} & 8")
if(NOT name_flag EQUAL 0 OR NOT CMAKE_MATCH_2 STREQUAL "02")
  message(FATAL_ERROR "changelog.gz keeps a file name or lacks gzip -9: ${gz}")
endif()
run(entry gzip -dc ${changelog})
string(REGEX MATCH "^[^\n]*" first "${entry}")
set(trailer "\n -- [^<\n]+ <[^@>\n]+@[^>\n]+>  [A-Z][a-z][a-z], [0-9][0-9] [A-Z][a-z][a-z] [0-9]+ ")
if(NOT first MATCHES "^kivf \\(([^)]+)\\) [a-z]+; urgency=[a-z]+$"
   OR NOT CMAKE_MATCH_1 STREQUAL version OR NOT entry MATCHES "${trailer}")
  message(FATAL_ERROR "the changelog's latest entry is not for version ${version}:\n${entry}")
endif()

# Manual pages, compressed; none left plain.
string(REGEX MATCHALL " \\./usr/share/man/man[1-9]/[^\n]*" pages "${files}")
if(NOT pages MATCHES "kivhdr\\.1\\.gz" OR pages MATCHES "\\.[1-9](;|$)")
  message(FATAL_ERROR "manual pages missing or not compressed: ${pages}")
endif()

# Every ELF file and archive in the package, without debug information; the ELF files
# without symbol tables either (their dynamic symbols are all they need).
file(GLOB_RECURSE unpacked LIST_DIRECTORIES false ${WORK}/root/*)
set(binaries)
foreach(f IN LISTS unpacked)
  if(IS_SYMLINK ${f})
    continue()
  endif()
  file(READ ${f} magic LIMIT 8 HEX)
  if(NOT magic MATCHES "^7f454c46" AND NOT magic STREQUAL "213c617263683e0a")
    continue()
  endif()
  file(RELATIVE_PATH rel ${WORK}/root ${f})
  list(APPEND binaries ${rel})
  run(sections ${READELF} -S -W ${f})
  if(NOT sections MATCHES "\\.text")
    message(FATAL_ERROR "readelf shows no sections of ${rel}:\n${sections}")
  endif()
  if(sections MATCHES "\\.(debug_[a-z_]+|zdebug_[a-z_]+|gnu_debugdata)" OR
     (magic MATCHES "^7f454c46" AND sections MATCHES "\\.symtab"))
    message(FATAL_ERROR "${rel} is not stripped (debug sections or a symbol table):\n${sections}")
  endif()
endforeach()
set(expected usr/bin/kivhdr usr/lib/libkivf.so.${version} usr/lib/libkivf.a usr/lib/kivf/sphgeo.mex)
if(PYTHON)
  list(APPEND expected usr/lib/python3/dist-packages/kivf/_kivf)
endif()
foreach(e IN LISTS expected)
  if(NOT binaries MATCHES "(^|;)${e}")
    message(FATAL_ERROR "${e} is not among the binaries checked: ${binaries}")
  endif()
endforeach()

# The library's shlibs entry names its soname.
run(soname ${READELF} -d ${WORK}/root/usr/lib/libkivf.so.${version})
run(shlibs ${DPKG_DEB} --info ${deb} shlibs)
string(REGEX MATCH "Library soname: \\[libkivf\\.so\\.([0-9]+)\\]" unused "${soname}")
if(NOT shlibs STREQUAL "libkivf ${CMAKE_MATCH_1} kivf (>= ${version})")
  message(FATAL_ERROR "shlibs '${shlibs}' does not match the library:\n${soname}")
endif()

# The plug-in is machine code under /usr/lib; Octave still finds it beside its help text in
# share/kivf, by a link, and runs it: 90 degrees along the equator, due east.
if(NOT IS_SYMLINK ${WORK}/root/usr/share/kivf/sphgeo.mex
   OR IS_SYMLINK ${WORK}/root/usr/lib/kivf/sphgeo.mex)
  message(FATAL_ERROR "the plug-in is not in usr/lib/kivf with a link in usr/share/kivf:\n${files}")
endif()
file(REAL_PATH ${WORK}/root/usr/share/kivf/sphgeo.mex target)
file(REAL_PATH ${WORK}/root/usr/lib/kivf/sphgeo.mex mex)
if(NOT target STREQUAL mex)
  message(FATAL_ERROR "usr/share/kivf/sphgeo.mex leads to ${target}, not ${mex}")
endif()
find_program(OCTAVE octave-cli)
if(OCTAVE)
  run(shown ${OCTAVE} --no-gui --norc --quiet --eval
      "addpath('${WORK}/root/usr/share/kivf')\n[d, k, a, b] = sphgeo(0, 90, 0, 0)\;
printf('%s %.6f %.3f %.6f %.6f', which('sphgeo'), d, k, a, b)")
  set(n " ([0-9.]+)")
  if(NOT shown MATCHES "^(/[^\n]*/usr/share/kivf/sphgeo\\.mex)${n}${n}${n}${n}$")
    message(FATAL_ERROR "Octave and the unpacked plug-in: '${shown}'")
  endif()
  # 90 degrees, a quarter of the circumference of the 6371 km sphere (10007.54 km), leaving
  # due east and arriving from due west; within the plug-in's rounded constants.
  set(got ${CMAKE_MATCH_2} ${CMAKE_MATCH_3} ${CMAKE_MATCH_4} ${CMAKE_MATCH_5})
  file(REAL_PATH ${CMAKE_MATCH_1} loaded)
  if(NOT loaded STREQUAL mex)
    message(FATAL_ERROR "Octave found sphgeo at ${CMAKE_MATCH_1}, not the unpacked ${mex}")
  endif()
  set(low 89.999 10006.5 89.999 269.999)
  set(high 90.001 10008.5 90.001 270.001)
  foreach(g l h IN ZIP_LISTS got low high)
    if(NOT (g GREATER l AND g LESS h))
      message(FATAL_ERROR "Octave and the unpacked plug-in: ${got}, not within ${low} .. ${high}")
    endif()
  endforeach()
else()
  message("octave-cli is not installed: the unpacked plug-in is not run")
endif()

# Lintian's overrides each say why; lintian itself finds no error.
set(overrides ${WORK}/root/usr/share/lintian/overrides/kivf)
if(EXISTS ${overrides})
  file(STRINGS ${overrides} lines)
  set(previous "")
  foreach(l IN LISTS lines)
    if(l MATCHES "^kivf" AND NOT previous MATCHES "^#")
      message(FATAL_ERROR "the lintian override '${l}' has no comment saying why")
    endif()
    set(previous "${l}")
  endforeach()
endif()
find_program(LINTIAN lintian)
if(LINTIAN)
  execute_process(COMMAND ${LINTIAN} --fail-on error ${deb} OUTPUT_VARIABLE said
                  ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR said MATCHES "(^|\n)E: ")
    message(FATAL_ERROR "lintian: status ${rc}:\n${said}${err}")
  endif()
  message("lintian, no errors:\n${said}")
else()
  message("lintian is not installed: the package is not checked by it")
endif()

# The miniSEED programs and their pages come with libmseed's package as a need, or not at all.
if(MSXLATE)
  if(NOT depends MATCHES "(^|, )libmseed2(,|$)")
    message(FATAL_ERROR "the need of libmseed2 is missing: ${depends}")
  endif()
  foreach(program msxlate kiv2ms)
    if(NOT files MATCHES "man1/${program}\\.1\\.gz")
      message(FATAL_ERROR "${program}'s page is missing: ${files}")
    endif()
    run(shown ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH ${WORK}/root/usr/bin/${program} --version)
    if(NOT shown STREQUAL "${program} ${version}")
      message(FATAL_ERROR "the unpacked ${program} says '${shown}', not '${program} ${version}'")
    endif()
  endforeach()
elseif(files MATCHES "msxlate|kiv2ms" OR depends MATCHES "mseed")
  message(FATAL_ERROR "a miniSEED program is packaged although it was not built: ${depends}\n${files}")
endif()
if(NOT PYTHON)
  return()
endif()
set(site ${WORK}/root/usr/lib/python3/dist-packages)
foreach(f __init__.py __main__.py _kivf)
  if(NOT files MATCHES " \\./usr/lib/python3/dist-packages/kivf/${f}")
    message(FATAL_ERROR "kivf/${f} is not in dist-packages:\n${files}")
  endif()
endforeach()
if(files MATCHES "site-packages" OR NOT depends MATCHES "(^|, )python3-numpy(,|$)")
  message(FATAL_ERROR "Python package misplaced or its needs missing: ${depends}\n${files}")
endif()
# Debian's interpreter searches /usr/lib/python3/dist-packages: here, the copy's.
run(shown ${CMAKE_COMMAND} -E env PYTHONPATH=${site} ${PYTHON} -c
    "import kivf\nkivf.write('t.kiv', [1.5, -2.0], delta=0.5)\nprint(kivf.__file__, list(kivf.read('t.kiv').data))")
if(NOT shown STREQUAL "${site}/kivf/__init__.py [1.5, -2.0]")
  message(FATAL_ERROR "import kivf from the unpacked package gave: ${shown}")
endif()
# The command kivf and its page; the unpacked command runs the unpacked package with the
# interpreter it names, without PYTHONPATH, whatever python3 comes first on PATH.
if(NOT files MATCHES "(^|\n)-rwxr-xr-x [^\n]* \\./usr/bin/kivf(\n|$)"
   OR NOT files MATCHES " \\./usr/share/man/man1/kivf\\.1\\.gz(\n|$)")
  message(FATAL_ERROR "the command kivf (mode 755) or its page is missing:\n${files}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=PYTHONPATH PYTHONVERBOSE=1
                ${WORK}/root/usr/bin/kivf --help OUTPUT_VARIABLE shown ERROR_VARIABLE imported
                RESULT_VARIABLE rc WORKING_DIRECTORY ${WORK})
file(REAL_PATH ${site} real) # as the command finds it, links resolved
string(FIND "${imported}" "${real}/kivf/__init__.py" at)
if(NOT rc EQUAL 0 OR NOT shown MATCHES "^usage: kivf \\[-h\\] {" OR at EQUAL -1)
  message(FATAL_ERROR "the unpacked kivf --help: status ${rc}, '${shown}', not from ${site}")
endif()
run(shown ${CMAKE_COMMAND} -E env --unset=PYTHONPATH ${WORK}/root/usr/bin/kivf info t.kiv)
run(listed ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH ${WORK}/root/usr/bin/kivhdr t.kiv)
if(NOT shown STREQUAL listed OR NOT shown MATCHES "\nNPTS +2\n")
  message(FATAL_ERROR "the unpacked kivf info gave '${shown}', kivhdr '${listed}'")
endif()
