# norv_split_debug_info(<target>): the program ships without its debug
# information, which stays beside it in the build as <file>.debug for crash
# analysis; the program names that file (its base name and CRC) in a
# .gnu_debuglink section, so a debugger finds it. objcopy stamps the current
# time into both PE headers unless SOURCE_DATE_EPOCH says otherwise (and the
# debug file's checksum goes into the program); 0 is what the linker's
# --no-insert-timestamp leaves.
function(norv_split_debug_info target)
  if(NOT CMAKE_OBJCOPY)
    message(FATAL_ERROR "objcopy not found (Debian package binutils-mingw-w64-x86-64)")
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0 ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE_NAME:${target}> $<TARGET_FILE_NAME:${target}>.debug
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0 ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=$<TARGET_FILE_NAME:${target}>.debug
            $<TARGET_FILE_NAME:${target}>
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
    COMMENT "Debug information of ${target} into a file of its own"
    VERBATIM)
endfunction()
