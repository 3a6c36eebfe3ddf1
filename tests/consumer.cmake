# Installs the build into a scratch prefix, then builds and runs a separate
# project that finds it with find_package(kivf).
# Each install component holds its own part and nothing of the other's; the
# runtime part alone runs. The consumer uses both, installed in turn.
set(prefix ${WORK}/prefix)
file(REMOVE_RECURSE ${WORK})
set(runtime bin/wfdxlate bin/kivhdr share/kivf/messages share/man/man1/kivhdr.1 lib/libkivf.so.0)
set(dev include/kivf/msg/msg.h include/kivf/dff/dff.h lib/libkivf.a lib/libkivf.so
        lib/cmake/kivf/kivfConfig.cmake lib/pkgconfig/kivf.pc)
foreach(part runtime dev)
  file(REMOVE_RECURSE ${WORK}/${part})
  execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${WORK}/${part}
                          --component ${part} RESULT_VARIABLE rc OUTPUT_QUIET)
  execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix}
                          --component ${part} RESULT_VARIABLE rc2 OUTPUT_QUIET)
  if(NOT rc EQUAL 0 OR NOT rc2 EQUAL 0)
    message(FATAL_ERROR "install of ${part} failed: ${rc} ${rc2}")
  endif()
  foreach(other runtime dev)
    foreach(f IN LISTS ${other})
      set(there FALSE) # a link to the other part's file counts
      if(EXISTS ${WORK}/${part}/${f} OR IS_SYMLINK ${WORK}/${part}/${f})
        set(there TRUE)
      endif()
      if(other STREQUAL part AND NOT there)
        message(FATAL_ERROR "${part} lacks ${f}")
      elseif(NOT other STREQUAL part AND there)
        message(FATAL_ERROR "${part} holds ${f}")
      endif()
    endforeach()
  endforeach()
endforeach()
foreach(f co/co_testing.h dff/dff_internal.h)
  if(EXISTS ${prefix}/include/kivf/${f})
    message(FATAL_ERROR "a header of the tests or of the library's inside is installed: ${f}")
  endif()
endforeach()
execute_process(COMMAND ${WORK}/runtime/bin/kivhdr --version RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "kivhdr of the runtime part does not run: ${rc}")
endif()
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
execute_process(COMMAND pkg-config --cflags --libs kivf RESULT_VARIABLE rc
                OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
separate_arguments(flags UNIX_COMMAND "${flags}")
execute_process(COMMAND ${CXX} -std=c++20 ${SOURCE}/main.cpp ${flags} -Wl,-rpath,${prefix}/lib
                        -o ${WORK}/build/consumer_pc RESULT_VARIABLE rc2)
if(NOT rc EQUAL 0 OR NOT rc2 EQUAL 0)
  message(FATAL_ERROR "building with pkg-config failed: ${rc} ${rc2} (${flags})")
endif()
# Run without KIVAUX: the library must neither stop nor print anything of its own.
foreach(exe consumer consumer_static consumer_pc)
  file(REMOVE ${WORK}/build/even.kiv ${WORK}/build/uneven.kiv)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=KIVAUX ${WORK}/build/${exe}
                  WORKING_DIRECTORY ${WORK}/build RESULT_VARIABLE rc OUTPUT_VARIABLE out
                  ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR NOT out STREQUAL "answer 42\nread back\n" OR NOT err STREQUAL "")
    message(FATAL_ERROR "${exe}: status ${rc}, output '${out}', errors '${err}'")
  endif()
endforeach()
