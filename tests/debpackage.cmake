# SPDX-License-Identifier: Apache-2.0
# The Debian package as built: the Python package where Debian's python3 looks, the packages
# it needs, and an unpacked copy that works where it lies: its program runs, its kivf imports
# and converts.
# -DBUILD=<build folder> -DWORK=<scratch folder> -DCPACK=<cpack> -DPYTHON=<interpreter or empty>
# -DMSXLATE=<whether msxlate is built>
find_program(DPKG_DEB dpkg-deb)
if(NOT DPKG_DEB)
  message("SKIPPED: dpkg-deb is not installed")
  cmake_language(EXIT 77)
endif()
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
# The miniSEED programs and their pages come with libmseed's package as a need, or not at all.
if(MSXLATE)
  if(NOT depends MATCHES "(^|, )libmseed2(,|$)")
    message(FATAL_ERROR "the need of libmseed2 is missing: ${depends}")
  endif()
  foreach(program msxlate kiv2ms)
    if(NOT files MATCHES "man1/${program}\\.1")
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
   OR NOT files MATCHES " \\./usr/share/man/man1/kivf\\.1(\n|$)")
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
