# Run by cpack once the programs are installed into its staging folder and
# before makensis: adds the chosen WebView2Loader.dll (and the winbrand
# stand-in of a development package) and signs the two programs.
set(stage ${CPACK_TEMPORARY_INSTALL_DIRECTORY})
if(NOT EXISTS "${stage}/norvvpnui.exe")
  message(FATAL_ERROR "norvvpnui.exe is not in the staging folder ${stage}")
endif()
configure_file(${CPACK_NORV_LOADER} ${stage}/WebView2Loader.dll COPYONLY)
if(CPACK_NORV_WINBRAND)
  configure_file(${CPACK_NORV_WINBRAND} ${stage}/winbrand.dll COPYONLY)
endif()
if(CPACK_NORV_SIGN_PKCS12)
  foreach(program norvvpnui.exe uninstall-cleaner.exe)
    execute_process(COMMAND ${CPACK_NORV_SIGN_SCRIPT} ${CPACK_NORV_SIGN_PKCS12} ${stage}/${program}
                    RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "signing ${program} failed (${result})")
    endif()
  endforeach()
endif()
