# Cross-compiles the Windows programs with Debian's mingw-w64 (posix threads)
# and runs the test binaries under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(WINE_PROGRAM NAMES wine wine64 wine-stable)
get_property(norv_in_try_compile GLOBAL PROPERTY IN_TRY_COMPILE)
if(WINE_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_PROGRAM})
elseif(NOT norv_in_try_compile AND (NOT DEFINED BUILD_TESTING OR BUILD_TESTING))
  # Without an emulator CTest would hand the .exe files to the shell.
  message(FATAL_ERROR "wine not found (Debian package wine): the tests run under it. "
                      "Install it, or configure with -DBUILD_TESTING=OFF to build without tests.")
endif()
