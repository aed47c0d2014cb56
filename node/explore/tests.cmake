# The explorer's tests against qxsym-sim. Its npm packages (the chart
# library, the browser tests' driver) come from scripts/install-deps.sh; the
# browser test skips without them or without Debian's Chromium.
if(NOT QXSYM_NODE_EXECUTABLE OR NOT TARGET qxsym-sim OR NOT TARGET qxsym-genmodel)
  message(STATUS "node, qxsym-sim or qxsym-genmodel missing: the explorer's tests are not built")
  return()
endif()
set(_qxsym_explore ${CMAKE_CURRENT_LIST_DIR})

set(_qxsym_explore_env
  QXSYMBOLS_ASYNC_ADDON=$<TARGET_FILE:qxsymbols_async>
  QXSYM_SIM=$<TARGET_FILE:qxsym-sim>
  QXSYM_GENMODEL=$<TARGET_FILE:qxsym-genmodel>
  QXSYM_ARTEFACTS=${CMAKE_BINARY_DIR}/artefacts)
foreach(name server survives trend csv secure tree page.e2e tree.e2e)
  add_test(NAME node_explore_${name}
           COMMAND ${QXSYM_NODE_EXECUTABLE} --test --test-timeout=100000
                   ${_qxsym_explore}/test/${name}.test.js)
  set_tests_properties(node_explore_${name} PROPERTIES LABELS e2e TIMEOUT 120
                       ENVIRONMENT "${_qxsym_explore_env}")
endforeach()
