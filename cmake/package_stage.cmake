# Run by cpack before makensis: copies the two built programs, the chosen
# WebView2Loader.dll (and the winbrand stand-in of a development package) into
# its staging folder and signs the programs there.
set(stage ${CPACK_TEMPORARY_INSTALL_DIRECTORY})
foreach(program ${CPACK_NORV_PROGRAMS})
  if(NOT EXISTS "${program}")
    message(FATAL_ERROR "${program} is not built")
  endif()
  configure_file(${program} ${stage}/ COPYONLY)
endforeach()
configure_file(${CPACK_NORV_LOADER} ${stage}/WebView2Loader.dll COPYONLY)
if(CPACK_NORV_WINBRAND)
  configure_file(${CPACK_NORV_WINBRAND} ${stage}/winbrand.dll COPYONLY)
endif()
if(CPACK_NORV_SIGN)
  foreach(program norvvpnui.exe uninstall-cleaner.exe)
    execute_process(COMMAND ${CPACK_NORV_SIGN_SCRIPT} ${program} ${stage}/${program}
                    RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "signing ${program} failed (${result})")
    endif()
  endforeach()
endif()
include(${CMAKE_CURRENT_LIST_DIR}/package_symbols.cmake)
