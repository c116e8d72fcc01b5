add_dependencies(${TEST_TARGET} uninstall-cleaner)
# The cleaner walks the whole uninstall lists, so nothing else may change
# them while it runs.
set_tests_properties(${TEST_TARGET} PROPERTIES
  ENVIRONMENT "NORV_CLEANER_EXE=$<TARGET_FILE:uninstall-cleaner>"
  RESOURCE_LOCK uninstall_lists)
