# The addon KOVAElectronSDK.node: self-contained (shared code linked statically), written into the
# package directory where it finds the SDK and the controller library beside itself.
kova_add_node_module(KOVAElectronSDK
  ${CMAKE_CURRENT_LIST_DIR}/main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/general.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SVError.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JsCrossing.cpp
  ${CMAKE_CURRENT_LIST_DIR}/KOVAEngine.cpp
  ${CMAKE_CURRENT_LIST_DIR}/KOVAEngineStream.cpp
  ${CMAKE_CURRENT_LIST_DIR}/KOVAEngineListener.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SAIManagerAdapter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CTRClientAdapter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ParseParam.cpp
  ${CMAKE_CURRENT_LIST_DIR}/EngineObjects.cpp
)
target_link_libraries(KOVAElectronSDK PRIVATE kova_shared Threads::Threads)
set_target_properties(KOVAElectronSDK PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${KOVA_ADDON_DIR})
