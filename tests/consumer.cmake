# SPDX-License-Identifier: Apache-2.0
# Installs each component alone (its files, nothing of the other's, links included), then both,
# and builds a separate project against them.
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

function(expect output) # runs ARGN in the consumer's folder: that output, status 0, nothing on stderr
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${WORK}/build RESULT_VARIABLE rc
                  OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR NOT out STREQUAL output OR NOT err STREQUAL "")
    message(FATAL_ERROR "${ARGN}: status ${rc}, output '${out}', errors '${err}'")
  endif()
endfunction()
# Without KIVAUX the library neither stops nor prints its own; the program finds it by its run path.
set(env ${CMAKE_COMMAND} -E env --unset=KIVAUX --unset=LD_LIBRARY_PATH)
expect("answer 42\n" ${env} ${WORK}/build/consumer_kivf)
expect("answer 42\n" ${env} ${WORK}/build/consumer_kivf_static)
# The runtime's kivhdr alone, on the file the consumer wrote.
expect("ANMO\t5\t0.25\n" ${env} ${WORK}/runtime/bin/kivhdr -f kstnm -f NPTS -f DELTA even.kiv)
# The Python package of an own prefix, where the README's PYTHONPATH points.
if(PYTHON)
  file(GLOB site ${WORK}/prefix/lib/python3.*/site-packages)
  expect("${site}/kivf/__init__.py\n" ${CMAKE_COMMAND} -E env PYTHONPATH=${site} ${PYTHON} -c
         "import kivf\nprint(kivf.__file__)")
endif()
