target_link_libraries(${TEST_TARGET} PRIVATE winhttp)
add_dependencies(${TEST_TARGET} local-service winbrand)
set_tests_properties(${TEST_TARGET} PROPERTIES
  ENVIRONMENT "NORV_LOCAL_SERVICE=$<TARGET_FILE:local-service>;NORV_WINBRAND_DLL=$<TARGET_FILE:winbrand>"
  RESOURCE_LOCK port13001)
