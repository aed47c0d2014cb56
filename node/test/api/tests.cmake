# The promise API's tests: Node.js's own runner against qxsym-sim, one CTest
# test per file.
set(_qxsym_api_env
  QXSYMBOLS_ADDON=$<TARGET_FILE:qxsymbols_node>
  QXSYMBOLS_ASYNC_ADDON=$<TARGET_FILE:qxsymbols_async>
  QXSYM_SIM=$<TARGET_FILE:qxsym-sim>)
foreach(name values group tags async reconnect codec vectors demo subscribe)
  add_test(NAME node_api_${name}
           COMMAND ${QXSYM_NODE_EXECUTABLE} --test --test-timeout=60000
                   ${CMAKE_CURRENT_LIST_DIR}/${name}.test.js)
  set_tests_properties(node_api_${name} PROPERTIES LABELS e2e TIMEOUT 90
                       ENVIRONMENT "${_qxsym_api_env}")
endforeach()

# The TypeScript declarations: tsc compiles an example against them (offline;
# scripts/install-deps.sh installs the compiler into typecheck/).
add_test(NAME node_api_typecheck
         COMMAND ${QXSYM_NODE_EXECUTABLE}
                 ${CMAKE_CURRENT_LIST_DIR}/typecheck/node_modules/typescript/bin/tsc
                 -p ${CMAKE_CURRENT_LIST_DIR}/typecheck)
set_tests_properties(node_api_typecheck PROPERTIES LABELS unit TIMEOUT 120)
