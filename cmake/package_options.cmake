# Read by cpack before it packages: what goes in beside the two programs, the
# package's file name and whether it is signed. Set with cpack -D (see
# packaging.cmake); scripts/package.sh passes them.
#   CPACK_NORV_WEBVIEW2_LOADER  the WebView2 SDK's x64 WebView2Loader.dll (a release)
#   CPACK_NORV_DEV_RUNTIME      ON: the development runtime and the winbrand stand-in
#   CPACK_NORV_SIGN             ON: the programs, the uninstaller and the installer get signatures
#                               through scripts/sign-pe.sh (key or signatures from the environment)
if(CPACK_NORV_DEV_RUNTIME AND CPACK_NORV_WEBVIEW2_LOADER)
  message(FATAL_ERROR "A package takes either the SDK's WebView2Loader.dll or the development runtime, not both.")
endif()
include(${CPACK_NORV_BUILD_FILES})
set(CPACK_NORV_PROGRAMS ${NORV_PROGRAMS})
if(CPACK_NORV_DEV_RUNTIME)
  set(CPACK_NORV_LOADER ${NORV_DEV_RUNTIME_DLL})
  set(CPACK_NORV_WINBRAND ${NORV_WINBRAND_DLL})
  set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_FILE_NAME}-dev)
  set(CPACK_NORV_NSIS_DEFINES "!define NORV_DEV_RUNTIME")
elseif(CPACK_NORV_WEBVIEW2_LOADER)
  if(NOT EXISTS "${CPACK_NORV_WEBVIEW2_LOADER}" OR IS_DIRECTORY "${CPACK_NORV_WEBVIEW2_LOADER}")
    message(FATAL_ERROR "WebView2Loader.dll not found: ${CPACK_NORV_WEBVIEW2_LOADER}")
  endif()
  set(CPACK_NORV_LOADER ${CPACK_NORV_WEBVIEW2_LOADER})
  set(CPACK_NORV_WINBRAND "")
  set(CPACK_NORV_NSIS_DEFINES "")
else()
  message(FATAL_ERROR "No WebView2Loader.dll for the package. A release needs the WebView2 SDK's x64 "
          "WebView2Loader.dll (scripts/package.sh --webview2-loader PATH, or configure with "
          "-DNORV_WEBVIEW2_LOADER=PATH); a package for tests under Wine takes the development runtime "
          "(scripts/package.sh --dev-runtime).")
endif()

set(CPACK_NORV_NSIS_SIGN "")
if(CPACK_NORV_SIGN)
  # makensis runs these through the shell with %1 the file it just wrote;
  # sign-pe.sh takes its key or signatures from the environment.
  set(CPACK_NORV_NSIS_SIGN
      "!uninstfinalize '\"${CPACK_NORV_SIGN_SCRIPT}\" uninstall.exe \"%1\"' = 0\n!finalize '\"${CPACK_NORV_SIGN_SCRIPT}\" installer.exe \"%1\"' = 0")
endif()
