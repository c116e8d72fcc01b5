# The real window class and procedure, with icon 101 from the program's own
# resources, the recording web view fakes and the scripted service.
target_sources(${TEST_TARGET} PRIVATE ${PROJECT_SOURCE_DIR}/client/res/norvvpnui.rc
                                      ${CMAKE_CURRENT_SOURCE_DIR}/unit/webview/fake_webview.cpp)
target_link_libraries(${TEST_TARGET} PRIVATE norvvpn_client ole32)
set_tests_properties(${TEST_TARGET} PROPERTIES RESOURCE_LOCK port13001)
