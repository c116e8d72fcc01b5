target_link_libraries(${TEST_TARGET} PRIVATE norvvpn_client)
add_dependencies(${TEST_TARGET} winbrand webview-runtime)
set_tests_properties(${TEST_TARGET} PROPERTIES RESOURCE_LOCK port13001
                     ENVIRONMENT "NORV_WINBRAND_DLL=$<TARGET_FILE:winbrand>;NORV_WEBVIEW_RUNTIME=$<TARGET_FILE:webview-runtime>")
