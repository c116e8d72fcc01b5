# The development package the installer test uses (its symbols folder beside
# it), and the client's .debug file for the address of the function to fault in.
set(package_dir ${CMAKE_BINARY_DIR}/packages-test)
add_custom_command(OUTPUT ${package_dir}/NorvVPN-${NORV_VERSION}-win64-dev.exe APPEND
                   DEPENDS ${PROJECT_SOURCE_DIR}/cmake/package_symbols.cmake)
add_dependencies(${TEST_TARGET} installer_test_package)
target_link_libraries(${TEST_TARGET} PRIVATE dbghelp)
# A program of its own around the client's crash handler.
add_executable(crasher ${CMAKE_CURRENT_LIST_DIR}/crasher/crasher.cpp)
target_link_libraries(crasher PRIVATE norvvpn_client)
add_dependencies(${TEST_TARGET} crasher)
set(dumps ${CMAKE_BINARY_DIR}/crash-dumps)
file(MAKE_DIRECTORY ${dumps})
set_tests_properties(${TEST_TARGET} PROPERTIES
  ENVIRONMENT "NORV_INSTALLER=${package_dir}/NorvVPN-${NORV_VERSION}-win64-dev.exe;NORV_CLIENT_DEBUG=$<TARGET_FILE:norvvpnui>.debug;NORV_CRASH_DUMPS=${dumps};NORV_CRASHER=$<TARGET_FILE:crasher>"
  RESOURCE_LOCK "port13001;uninstall_lists"
  FIXTURES_SETUP crash_dumps
  TIMEOUT 900)
# scripts/read-crash.sh on those dumps, with the package's symbols.
if(CMAKE_HOST_UNIX)
  add_test(NAME ${TEST_TARGET}_read COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/read_crash_test.sh)
  set_tests_properties(${TEST_TARGET}_read PROPERTIES
    ENVIRONMENT "NORV_CRASH_DUMPS=${dumps};NORV_SYMBOLS=${package_dir}/symbols"
    FIXTURES_REQUIRED crash_dumps)
endif()
