# Installs the build tree into WORK_DIR/prefix and builds the consumer
# project against it, with find_package and with pkg-config.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed")
endif()
# The command-line tool, when built, runs from the installed tree and finds
# the installed library.
if(EXISTS ${prefix}/bin/qxsym)
  execute_process(COMMAND ${prefix}/bin/qxsym --help RESULT_VARIABLE rc OUTPUT_QUIET)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "installed qxsym does not run")
  endif()
endif()
# So does the bridge, which also needs the client core's library.
if(EXISTS ${prefix}/bin/qxsym-bridge)
  execute_process(COMMAND ${prefix}/bin/qxsym-bridge --help RESULT_VARIABLE rc OUTPUT_QUIET)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "installed qxsym-bridge does not run")
  endif()
endif()
# Each tool built (TOOLS) is installed with its manual page, which man reads.
find_program(MAN man)
string(REPLACE "," ";" TOOLS "${TOOLS}")
foreach(tool IN LISTS TOOLS)
  set(page ${prefix}/share/man/man1/${tool}.1)
  if(NOT EXISTS ${prefix}/bin/${tool} OR NOT EXISTS ${page})
    message(FATAL_ERROR "${tool} or its manual page ${page} is not installed")
  endif()
  if(MAN)
    execute_process(COMMAND ${MAN} -l ${page} RESULT_VARIABLE rc OUTPUT_VARIABLE text
                    ERROR_VARIABLE err)
    if(NOT rc EQUAL 0 OR NOT text MATCHES "NAME")
      message(FATAL_ERROR "man cannot show ${page}: ${err}")
    endif()
  endif()
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build -G ${GENERATOR}
                        -DCMAKE_PREFIX_PATH=${prefix}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "consumer configure failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/build RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "consumer build failed")
endif()
foreach(exe consumer_cmake consumer_pkgconfig)
  execute_process(COMMAND ${WORK_DIR}/build/${exe} RESULT_VARIABLE rc OUTPUT_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${exe} failed: ${out}")
  endif()
  message(STATUS "${exe}: ${out}")
endforeach()

# The installed simulator, started from another folder with no --model,
# serves its installed demo model; the consumer connects and finds tags.
if(WITH_SIM)
  set(sim ${prefix}/${BINDIR}/qxsym-sim)
  foreach(file ${sim} ${prefix}/${BINDIR}/qxsym-genmodel
               ${prefix}/${DATADIR}/qxsymbols/models/demo.json)
    if(NOT EXISTS ${file})
      message(FATAL_ERROR "not installed: ${file}")
    endif()
  endforeach()
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env QXSYM_SIM=${sim}
            bash ${WITH_SIM} -- bash -c "exec \"$0\" \"$QXSYM_SIM_HOST\" \"$QXSYM_SIM_PORT\""
            ${WORK_DIR}/build/consumer_cmake
    WORKING_DIRECTORY ${WORK_DIR}
    TIMEOUT 60
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "installed qxsym-sim with the consumer failed (${rc}): ${out}${err}")
  endif()
  message(STATUS "installed qxsym-sim: ${out}")
endif()
