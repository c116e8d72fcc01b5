# Delay-loaded system libraries: norv_delay_load_library(<name>) makes the
# target delayed_<name>, an import library whose functions load <name>.dll on
# their first call instead of at process start. The definitions come from
# mingw-w64's own import library, so every export is covered and no call
# falls back to a load-time import unnoticed.
find_program(NORV_DLLTOOL NAMES ${MINGW_PREFIX}-dlltool dlltool REQUIRED)
find_program(NORV_NM NAMES ${MINGW_PREFIX}-nm nm REQUIRED)

function(norv_delay_load_library name)
  find_library(import_library_${name} NAMES lib${name}.a REQUIRED)
  set(import_library ${import_library_${name}})
  set(out ${CMAKE_BINARY_DIR}/delay-load)
  file(MAKE_DIRECTORY ${out})
  add_custom_command(
    OUTPUT ${out}/lib${name}_delayed.a
    COMMAND ${CMAKE_COMMAND} -DNM=${NORV_NM} -DIMPORT_LIBRARY=${import_library} -DDLL=${name}.dll
            -DDEF=${out}/${name}.def -P ${PROJECT_SOURCE_DIR}/cmake/write_exports_def.cmake
    # dlltool names its symbols after the output path: relative, they are the
    # same in every build folder (the debug file's checksum is in the program).
    COMMAND ${NORV_DLLTOOL} --input-def ${name}.def --dllname ${name}.dll
            --output-delaylib lib${name}_delayed.a
    WORKING_DIRECTORY ${out}
    DEPENDS ${import_library} ${PROJECT_SOURCE_DIR}/cmake/write_exports_def.cmake
    COMMENT "Delay-load import library for ${name}.dll"
    VERBATIM)
  add_custom_target(delayed_${name}_library DEPENDS ${out}/lib${name}_delayed.a)
  add_library(delayed_${name} STATIC IMPORTED GLOBAL)
  set_target_properties(delayed_${name} PROPERTIES IMPORTED_LOCATION ${out}/lib${name}_delayed.a)
  add_dependencies(delayed_${name} delayed_${name}_library)
endfunction()
