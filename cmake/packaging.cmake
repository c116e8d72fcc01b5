# The Windows installer: CPack's NSIS generator with the template in this
# folder (NSIS.template.in). What goes in beside the two programs is chosen
# when cpack runs (see package_options.cmake):
#   cpack -D CPACK_NORV_WEBVIEW2_LOADER=<the SDK's x64 WebView2Loader.dll>   a release
#   cpack -D CPACK_NORV_DEV_RUNTIME=ON     the development runtime and winbrand stand-in
# -DNORV_WEBVIEW2_LOADER=<path> at configure time sets the first for the
# `package` target. scripts/package.sh wraps both and signs.
set(NORV_WEBVIEW2_LOADER "" CACHE FILEPATH "The WebView2 SDK's x64 WebView2Loader.dll for a release package")

# cpack builds nothing and installs no CMake project: package_stage.cmake
# copies the built files in. (cpack's own build of `all` would run the test
# package's cpack again, and again.)
set(CPACK_INSTALL_CMAKE_PROJECTS "")

set(CPACK_GENERATOR NSIS)
set(CPACK_PACKAGE_NAME NorvVPN)
set(CPACK_PACKAGE_VENDOR Norv)
set(CPACK_PACKAGE_VERSION ${NORV_VERSION})
set(CPACK_PACKAGE_INSTALL_DIRECTORY NorvVPN)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY NorvVPN)
set(CPACK_PACKAGE_FILE_NAME NorvVPN-${NORV_VERSION}-win64)
set(CPACK_NSIS_PACKAGE_NAME NorvVPN)
set(CPACK_NSIS_DISPLAY_NAME NorvVPN)
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/client/res/norvvpnui.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/client/res/norvvpnui.ico)
# Drawn by client/res/make-wizard-picture.sh.
set(CPACK_NSIS_MUI_WELCOMEFINISHPAGE_BITMAP ${PROJECT_SOURCE_DIR}/client/res/wizard.bmp)
set(CPACK_NSIS_MUI_UNWELCOMEFINISHPAGE_BITMAP ${PROJECT_SOURCE_DIR}/client/res/wizard.bmp)
# Any makensis warning fails the package. The template holds Chinese text;
# without a byte order mark makensis would read it in the host's code page.
set(CPACK_NSIS_EXECUTABLE_PRE_ARGUMENTS "-WX" "-INPUTCHARSET UTF8")
set(CPACK_MODULE_PATH ${PROJECT_SOURCE_DIR}/cmake)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/package_options.cmake)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/package_stage.cmake)
set(CPACK_NORV_WEBVIEW2_LOADER ${NORV_WEBVIEW2_LOADER})
# Where the build put the programs and the development stand-ins.
set(CPACK_NORV_BUILD_FILES ${CMAKE_BINARY_DIR}/package_build_files.cmake)
file(GENERATE OUTPUT ${CPACK_NORV_BUILD_FILES} CONTENT
"set(NORV_PROGRAMS \"$<TARGET_FILE:norvvpnui>;$<TARGET_FILE:uninstall-cleaner>\")
set(NORV_DEV_RUNTIME_DLL \"$<TARGET_FILE:webview-runtime>\")
set(NORV_WINBRAND_DLL \"$<TARGET_FILE:winbrand>\")
")
# package_symbols.cmake reads the build ids with it.
set(CPACK_NORV_OBJDUMP ${CMAKE_OBJDUMP})
set(CPACK_NORV_SIGN_SCRIPT ${PROJECT_SOURCE_DIR}/scripts/sign-pe.sh)
include(CPack)
