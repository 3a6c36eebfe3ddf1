# Installs the build into a scratch prefix, then builds and runs a separate
# project that finds it with find_package(kivf).
# Each install component holds its part and nothing of the other's (a link to
# the other's file counts); runtime alone runs. The consumer uses both.
set(prefix ${WORK}/prefix)
file(REMOVE_RECURSE ${WORK})
set(runtime bin/wfdxlate bin/kivhdr share/kivf/messages share/man/man1/kivhdr.1 lib/libkivf.so.0)
set(dev include/kivf/msg/msg.h include/kivf/dff/dff.h lib/libkivf.a lib/libkivf.so
        lib/cmake/kivf/kivfConfig.cmake lib/pkgconfig/kivf.pc)
foreach(part runtime dev)
  foreach(to ${WORK}/${part} ${prefix})
    execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${to} --component ${part}
                    COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET)
  endforeach()
  foreach(f ${runtime} ${dev} include/kivf/co/co_testing.h include/kivf/dff/dff_internal.h)
    list(FIND ${part} ${f} mine)
    if((EXISTS ${WORK}/${part}/${f} OR IS_SYMLINK ${WORK}/${part}/${f}) EQUAL (mine EQUAL -1))
      message(FATAL_ERROR "${part}: ${f} wrongly there or missing")
    endif()
  endforeach()
endforeach()
execute_process(COMMAND ${WORK}/runtime/bin/kivhdr --version COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET)
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK}/build -G Ninja
                        -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX}
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "configuring the consumer failed: ${rc}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK}/build RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "building the consumer failed: ${rc}")
endif()
# The same program built with the flags pkg-config gives.
set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
execute_process(COMMAND pkg-config --cflags --libs kivf COMMAND_ERROR_IS_FATAL ANY
                OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
separate_arguments(flags UNIX_COMMAND "${flags}")
execute_process(COMMAND ${CXX} -std=c++20 ${SOURCE}/main.cpp ${flags} -Wl,-rpath,${prefix}/lib
                        -o ${WORK}/build/consumer_pc COMMAND_ERROR_IS_FATAL ANY)
# Run without KIVAUX: the library must neither stop nor print anything of its own.
foreach(exe consumer consumer_static consumer_pc)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=KIVAUX ${WORK}/build/${exe}
                  WORKING_DIRECTORY ${WORK}/build RESULT_VARIABLE rc OUTPUT_VARIABLE out
                  ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR NOT out STREQUAL "answer 42\n" OR NOT err STREQUAL "")
    message(FATAL_ERROR "${exe}: status ${rc}, output '${out}', errors '${err}'")
  endif()
endforeach()
# The installed kivhdr: values in the order asked; unknown or over-long names are bad usage.
execute_process(COMMAND ${prefix}/bin/kivhdr -f kstnm -f NPTS --field DELTA -f LEVEN --field=KZDATE
                        -f IFTYPE -f FILENAME -- even.kiv uneven.kiv
                WORKING_DIRECTORY ${WORK}/build RESULT_VARIABLE rc OUTPUT_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT out STREQUAL "ANMO\t5\t0.25\ttrue\tundefined\tITIME   TIME SERIES FILE\teven.kiv\nANMO\t5\t0.25\tfalse\tundefined\tITIME   TIME SERIES FILE\tuneven.kiv\n")
  message(FATAL_ERROR "kivhdr --field: status ${rc}, output '${out}'")
endif()
foreach(bad NOPE FILENAMEX)
  execute_process(COMMAND ${prefix}/bin/kivhdr -f DELTA -f ${bad} ${WORK}/build/even.kiv
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 1 OR NOT out STREQUAL "" OR NOT err MATCHES "no field named '${bad}'")
    message(FATAL_ERROR "kivhdr -f ${bad}: status ${rc}, output '${out}', errors '${err}'")
  endif()
endforeach()
