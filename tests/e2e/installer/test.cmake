# The development package, made with the build so the test runs on a clean
# clone; its own output folder keeps it apart from scripts/package.sh.
set(NORV_TEST_PACKAGE_DIR ${CMAKE_BINARY_DIR}/packages-test)
set(NORV_TEST_PACKAGE ${NORV_TEST_PACKAGE_DIR}/NorvVPN-${NORV_VERSION}-win64-dev.exe)
add_custom_command(
  OUTPUT ${NORV_TEST_PACKAGE}
  COMMAND ${CMAKE_CPACK_COMMAND} --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake -B ${NORV_TEST_PACKAGE_DIR}
          -D CPACK_NORV_DEV_RUNTIME=ON -D CPACK_NORV_WEBVIEW2_LOADER= -D CPACK_NORV_SIGN=OFF > cpack.log
  DEPENDS norvvpnui uninstall-cleaner webview-runtime winbrand
          ${PROJECT_SOURCE_DIR}/cmake/NSIS.template.in ${PROJECT_SOURCE_DIR}/cmake/packaging.cmake
          ${PROJECT_SOURCE_DIR}/cmake/package_options.cmake ${PROJECT_SOURCE_DIR}/cmake/package_stage.cmake
          ${PROJECT_SOURCE_DIR}/client/res/wizard.bmp
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
  COMMENT "Development package for the installer test")
add_custom_target(installer_test_package DEPENDS ${NORV_TEST_PACKAGE})
add_dependencies(${TEST_TARGET} installer_test_package)
# Not in the test binary: a process of its own, as another session's client.
add_executable(hold-file ${CMAKE_CURRENT_LIST_DIR}/holder/hold_file.cpp)
add_dependencies(${TEST_TARGET} hold-file)
# It installs into the prefix's Program Files and changes the uninstall lists.
set_tests_properties(${TEST_TARGET} PROPERTIES
  ENVIRONMENT "NORV_INSTALLER=${NORV_TEST_PACKAGE};NORV_LOCAL_SERVICE=$<TARGET_FILE:local-service>;NORV_HOLD_FILE=$<TARGET_FILE:hold-file>"
  RESOURCE_LOCK "port13001;uninstall_lists"
  TIMEOUT 900)
# The pages once more in Chinese (2052) and in zh-TW, which gets English.
foreach(locale zh_CN:2052 zh_TW:1028)
  string(REPLACE ":" ";" parts ${locale})
  list(GET parts 0 name)
  list(GET parts 1 id)
  add_test(NAME ${TEST_TARGET}_${name} COMMAND ${TEST_TARGET} --gtest_filter=InstallerPages.*)
  set_tests_properties(${TEST_TARGET}_${name} PROPERTIES
    ENVIRONMENT "NORV_INSTALLER=${NORV_TEST_PACKAGE};NORV_HOLD_FILE=$<TARGET_FILE:hold-file>;LANG=${name}.UTF-8;LC_ALL=${name}.UTF-8;NORV_EXPECT_LANGID=${id}"
    RESOURCE_LOCK "port13001;uninstall_lists"
    TIMEOUT 600)
endforeach()
