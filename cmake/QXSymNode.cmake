# Finds what the Node.js add-on needs: the node program and the Node-API
# headers (node_api.h). Sets QXSYM_NODE_FOUND, QXSYM_NODE_EXECUTABLE and
# QXSYM_NODE_INCLUDE_DIR. The headers are looked for beside the node program
# first (official releases ship them in <prefix>/include/node).
find_program(QXSYM_NODE_EXECUTABLE NAMES node nodejs)
set(_qxsym_node_hints "")
if(QXSYM_NODE_EXECUTABLE)
  get_filename_component(_qxsym_node_bin "${QXSYM_NODE_EXECUTABLE}" REALPATH)
  get_filename_component(_qxsym_node_prefix "${_qxsym_node_bin}" DIRECTORY)
  get_filename_component(_qxsym_node_prefix "${_qxsym_node_prefix}" DIRECTORY)
  list(APPEND _qxsym_node_hints "${_qxsym_node_prefix}/include/node")
endif()
find_path(QXSYM_NODE_INCLUDE_DIR node_api.h
  HINTS ${_qxsym_node_hints}
  PATHS /usr/include/node /usr/local/include/node)
if(QXSYM_NODE_EXECUTABLE AND QXSYM_NODE_INCLUDE_DIR)
  set(QXSYM_NODE_FOUND ON)
else()
  set(QXSYM_NODE_FOUND OFF)
endif()
