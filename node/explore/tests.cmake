# The explorer (qxsymbols explore): its npm packages (the chart library, the
# browser tests' driver) installed from the lock file, and its tests against
# qxsym-sim. The browser test uses Debian's Chromium and skips without it.
find_program(QXSYM_NPM_EXECUTABLE NAMES npm)
if(NOT QXSYM_NPM_EXECUTABLE OR NOT QXSYM_NODE_EXECUTABLE OR NOT TARGET qxsym-sim)
  message(STATUS "npm, node or qxsym-sim missing: the explorer's tests are not built")
  return()
endif()
set(_qxsym_explore ${CMAKE_CURRENT_LIST_DIR})
add_custom_command(
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/explore-npm.stamp
  COMMAND ${QXSYM_NPM_EXECUTABLE} ci --no-audit --no-fund --loglevel=error
  COMMAND ${CMAKE_COMMAND} -E touch ${CMAKE_CURRENT_BINARY_DIR}/explore-npm.stamp
  WORKING_DIRECTORY ${_qxsym_explore}
  DEPENDS ${_qxsym_explore}/package.json ${_qxsym_explore}/package-lock.json
  COMMENT "npm ci in node/explore"
  VERBATIM)
add_custom_target(qxsym_explore_npm ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/explore-npm.stamp)

set(_qxsym_explore_env
  QXSYMBOLS_ASYNC_ADDON=$<TARGET_FILE:qxsymbols_async>
  QXSYM_SIM=$<TARGET_FILE:qxsym-sim>
  QXSYM_ARTEFACTS=${CMAKE_BINARY_DIR}/artefacts)
foreach(name server page.e2e)
  add_test(NAME node_explore_${name}
           COMMAND ${QXSYM_NODE_EXECUTABLE} --test --test-timeout=100000
                   ${_qxsym_explore}/test/${name}.test.js)
  set_tests_properties(node_explore_${name} PROPERTIES LABELS e2e TIMEOUT 120
                       ENVIRONMENT "${_qxsym_explore_env}")
endforeach()
