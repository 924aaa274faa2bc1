# Locates the Node-API headers of the installed Node.js (js_native_api.h, node_api.h).
find_program(NODE_EXECUTABLE node REQUIRED)
execute_process(COMMAND ${NODE_EXECUTABLE} -p "require('path').resolve(process.execPath, '..', '..', 'include', 'node')"
                OUTPUT_VARIABLE _node_prefix_include OUTPUT_STRIP_TRAILING_WHITESPACE)
find_path(NODE_API_INCLUDE_DIR node_api.h
          HINTS ${_node_prefix_include} /usr/include/node /usr/local/include/node
          NO_DEFAULT_PATH)
if(NOT NODE_API_INCLUDE_DIR)
  message(FATAL_ERROR "Node-API headers (node_api.h) not found next to ${NODE_EXECUTABLE}; install the Node.js development headers")
endif()
message(STATUS "Node-API headers: ${NODE_API_INCLUDE_DIR}")

# kova_add_node_module(target sources...): a Node addon (.node), symbols resolved by the host process.
function(kova_add_node_module target)
  add_library(${target} MODULE ${ARGN})
  target_include_directories(${target} PRIVATE ${NODE_API_INCLUDE_DIR})
  target_compile_definitions(${target} PRIVATE NAPI_VERSION=8)
  set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX ".node"
                        CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
endfunction()
