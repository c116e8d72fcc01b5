# cmake -D OBJCOPY=... -D OBJDUMP=... -D PROGRAM=<linked .exe> -P this file
# Splits PROGRAM into the stripped program and PROGRAM.debug, both stamped
# with the first four bytes of the build id (the GUID's first field, as
# Windows' tools print it).
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE headers RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "objdump -p ${PROGRAM} failed (${result})")
endif()
if(NOT headers MATCHES "format RSDS signature ([0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f])")
  message(FATAL_ERROR "${PROGRAM} has no build id (link it with -Wl,--build-id)")
endif()
math(EXPR stamp "0x${CMAKE_MATCH_1}")
set(ENV{SOURCE_DATE_EPOCH} ${stamp})
get_filename_component(name ${PROGRAM} NAME)
get_filename_component(dir ${PROGRAM} DIRECTORY)
foreach(step "--only-keep-debug;${name};${name}.debug" "--strip-all;--add-gnu-debuglink=${name}.debug;${name}")
  execute_process(COMMAND ${OBJCOPY} ${step} WORKING_DIRECTORY ${dir} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "objcopy ${step} failed (${result})")
  endif()
endforeach()
