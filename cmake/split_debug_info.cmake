# norv_split_debug_info(<target>): the program ships without its debug
# information, which stays beside it in the build as <file>.debug for crash
# analysis; the program names that file (its base name and CRC) in a
# .gnu_debuglink section, so a debugger finds it.
#
# It also gets a build id (a CodeView record in its debug directory, which a
# minidump copies for each module) and a PE time stamp derived from that id,
# as Windows' linker does with /Brepro: the symbol-store key (time stamp and
# image size) then differs between builds and stays the same for one commit.
# objcopy writes SOURCE_DATE_EPOCH as the time stamp of both files it makes,
# so the stamp is set there, and the debug file's CRC in the debuglink is that
# of the final file. See split_debug_info_step.cmake.
function(norv_split_debug_info target)
  if(NOT CMAKE_OBJCOPY OR NOT CMAKE_OBJDUMP)
    message(FATAL_ERROR "objcopy or objdump not found (Debian package binutils-mingw-w64-x86-64)")
  endif()
  target_link_options(${target} PRIVATE -Wl,--build-id)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/split_debug_info_step.cmake)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -D OBJCOPY=${CMAKE_OBJCOPY} -D OBJDUMP=${CMAKE_OBJDUMP}
            -D PROGRAM=$<TARGET_FILE:${target}> -P ${PROJECT_SOURCE_DIR}/cmake/split_debug_info_step.cmake
    COMMENT "Debug information of ${target} into a file of its own"
    VERBATIM)
endfunction()
