# SPDX-License-Identifier: Apache-2.0
# Installs each component alone (its files, nothing of the other's, links included), then both.
file(REMOVE_RECURSE ${WORK})
set(runtime bin/wfdxlate bin/kivhdr share/kivf/messages share/man/man1/kivhdr.1 lib/libkivf.so.0)
set(dev include/kivf/msg/msg.h lib/libkivf.a lib/libkivf.so lib/cmake/kivf lib/pkgconfig/kivf.pc)
foreach(part runtime dev)
  execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${WORK}/${part}
                  --component ${part} COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET)
  foreach(f ${runtime} ${dev} include/kivf/co/co_testing.h include/kivf/dff/dff_internal.h)
    list(FIND ${part} ${f} mine)
    if((EXISTS ${WORK}/${part}/${f} OR IS_SYMLINK ${WORK}/${part}/${f}) EQUAL (mine EQUAL -1))
      message(FATAL_ERROR "${part}: ${f} wrongly there or missing")
    endif()
  endforeach()
endforeach()
file(COPY ${WORK}/runtime/ ${WORK}/dev/ DESTINATION ${WORK}/prefix)
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK}/build -G Ninja
  -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_PREFIX_PATH=${WORK}/prefix COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK}/build COMMAND_ERROR_IS_FATAL ANY)

function(expect status output errors) # runs ARGN in the consumer's folder; errors: a pattern
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${WORK}/build RESULT_VARIABLE rc
                  OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL status OR NOT out STREQUAL output OR NOT err MATCHES "^${errors}$")
    message(FATAL_ERROR "${ARGN}: status ${rc}, output '${out}', errors '${err}'")
  endif()
endfunction()
# Without KIVAUX the library neither stops nor prints its own. Built by CMake, a program finds
# the library by its run path; one built without finds it by LD_LIBRARY_PATH only.
set(env ${CMAKE_COMMAND} -E env --unset=KIVAUX --unset=LD_LIBRARY_PATH)
foreach(exe kivf kivf_static pc)
  expect(0 "answer 42\n" "" ${env} ${WORK}/build/consumer_${exe})
endforeach()
expect(127 "" ".*libkivf\\.so\\.0: cannot open shared object file.*" ${env} ${WORK}/build/consumer_bare)
expect(0 "answer 42\n" "" ${env} LD_LIBRARY_PATH=${WORK}/prefix/lib ${WORK}/build/consumer_bare)
# The Python package of an own prefix, where the README's PYTHONPATH points.
if(PYTHON)
  file(GLOB site ${WORK}/prefix/lib/python3.*/site-packages)
  expect(0 "${site}/kivf/__init__.py\n" "" ${CMAKE_COMMAND} -E env PYTHONPATH=${site} ${PYTHON} -c
         "import kivf\nprint(kivf.__file__)")
endif()
# The runtime's kivhdr alone: values in the order asked; unknown or over-long names are bad usage.
set(i "\tundefined\tITIME   TIME SERIES FILE\t")
expect(0 "ANMO\t5\t0.25\ttrue${i}even.kiv\nANMO\t5\t0.25\tfalse${i}uneven.kiv\n" ""
       ${WORK}/runtime/bin/kivhdr -f kstnm -f NPTS --field DELTA -f LEVEN --field=KZDATE -f IFTYPE
       -f FILENAME -- even.kiv uneven.kiv)
foreach(bad NOPE FILENAMEX)
  expect(1 "" ".*no field named '${bad}'.*" ${WORK}/runtime/bin/kivhdr -f DELTA -f ${bad} even.kiv)
endforeach()
