target_link_libraries(${TEST_TARGET} PRIVATE norvvpn_client ole32)
# The stand-in's self-check loads the built DLL by path.
add_dependencies(${TEST_TARGET} webview-standin)
set(webview_test_env "NORV_WEBVIEW_STANDIN=$<TARGET_FILE:webview-standin>")
if(TARGET local-service)
  add_dependencies(${TEST_TARGET} local-service)
  list(APPEND webview_test_env "NORV_LOCAL_SERVICE=$<TARGET_FILE:local-service>")
endif()
set_tests_properties(${TEST_TARGET} PROPERTIES ENVIRONMENT "${webview_test_env}" RESOURCE_LOCK port13001)
