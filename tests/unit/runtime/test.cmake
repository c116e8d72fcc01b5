# The runtime sits beside this binary, where the client finds it, in a folder
# of its own so that no other test binary finds a runtime next to it.
set_target_properties(${TEST_TARGET} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/with-runtime)
set(runtime_copy ${CMAKE_CURRENT_BINARY_DIR}/with-runtime/WebView2Loader.dll)
add_custom_command(OUTPUT ${runtime_copy}
                   COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:webview-runtime> ${runtime_copy}
                   DEPENDS webview-runtime)
add_custom_target(${TEST_TARGET}_runtime DEPENDS ${runtime_copy})
add_dependencies(${TEST_TARGET} ${TEST_TARGET}_runtime local-service)
target_link_libraries(${TEST_TARGET} PRIVATE norvvpn_client ole32 winhttp)
set_tests_properties(${TEST_TARGET} PROPERTIES
  ENVIRONMENT "NORV_LOCAL_SERVICE=$<TARGET_FILE:local-service>"
  RESOURCE_LOCK port13001
  TIMEOUT 900)
