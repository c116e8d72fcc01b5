target_link_libraries(${TEST_TARGET} PRIVATE norvvpn_client)
