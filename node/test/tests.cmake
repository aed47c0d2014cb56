# The add-on's tests: Node.js's own runner against qxsym-sim, one CTest test
# per file, and the packed tarball installed into an empty folder.
# A helper add-on that reads the engine's external-memory count (gc test).
add_library(qxsym_node_probe MODULE ${CMAKE_CURRENT_SOURCE_DIR}/test/external_memory_probe.c)
target_include_directories(qxsym_node_probe PRIVATE ${QXSYM_NODE_INCLUDE_DIR})
set_target_properties(qxsym_node_probe PROPERTIES PREFIX "" SUFFIX ".node"
                      LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/test)
qxsym_target_defaults(qxsym_node_probe)

set(_qxsym_node_env
  QXSYMBOLS_ADDON=$<TARGET_FILE:qxsymbols_node>
  QXSYM_NODE_PROBE=$<TARGET_FILE:qxsym_node_probe>
  QXSYM_SIM=$<$<TARGET_EXISTS:qxsym-sim>:$<TARGET_FILE:qxsym-sim>>)
foreach(name surface values)
  add_test(NAME node_${name}
           COMMAND ${QXSYM_NODE_EXECUTABLE} --test ${CMAKE_CURRENT_SOURCE_DIR}/test/${name}.test.js)
  set_tests_properties(node_${name} PROPERTIES LABELS e2e TIMEOUT 60
                       ENVIRONMENT "${_qxsym_node_env}")
endforeach()
add_test(NAME node_gc
         COMMAND ${QXSYM_NODE_EXECUTABLE} --expose-gc --test ${CMAKE_CURRENT_SOURCE_DIR}/test/gc.test.js)
set_tests_properties(node_gc PROPERTIES LABELS e2e TIMEOUT 60 ENVIRONMENT "${_qxsym_node_env}")

# npm pack, then npm install of the tarball into an empty folder (offline:
# the package has no dependencies) and require('qxsymbols') there.
find_program(QXSYM_NPM_EXECUTABLE npm)
if(QXSYM_NPM_EXECUTABLE)
  add_test(NAME node_pack_install
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/scripts/pack-check.sh ${PROJECT_SOURCE_DIR}
                   ${CMAKE_CURRENT_BINARY_DIR}/pack-check)
  set_tests_properties(node_pack_install PROPERTIES LABELS e2e TIMEOUT 600)
endif()
