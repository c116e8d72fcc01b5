target_include_directories(${TEST_TARGET} PRIVATE ${PROJECT_SOURCE_DIR}/client)
target_link_libraries(${TEST_TARGET} PRIVATE version)
add_dependencies(${TEST_TARGET} norvvpnui local-service webview-runtime winbrand)
set_tests_properties(${TEST_TARGET} PROPERTIES
  ENVIRONMENT "NORV_CLIENT_EXE=$<TARGET_FILE:norvvpnui>;NORV_LOCAL_SERVICE=$<TARGET_FILE:local-service>;NORV_WEBVIEW_RUNTIME=$<TARGET_FILE:webview-runtime>;NORV_WINBRAND_DLL=$<TARGET_FILE:winbrand>"
  RESOURCE_LOCK port13001
  TIMEOUT 1800)
foreach(locale zh_CN:2052 zh_TW:1028)
  string(REPLACE ":" ";" parts ${locale})
  list(GET parts 0 name)
  list(GET parts 1 id)
  add_test(NAME ${TEST_TARGET}_${name} COMMAND ${TEST_TARGET} --gtest_filter=Language.*:Texts.*)
  set_tests_properties(${TEST_TARGET}_${name} PROPERTIES
    ENVIRONMENT "NORV_CLIENT_EXE=$<TARGET_FILE:norvvpnui>;LANG=${name}.UTF-8;LC_ALL=${name}.UTF-8;NORV_EXPECT_LANGID=${id}"
    RESOURCE_LOCK port13001)
endforeach()
