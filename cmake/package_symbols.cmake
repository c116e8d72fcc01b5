# Run by cpack after package_stage.cmake: the symbols of exactly the programs
# it staged, in <package folder>/symbols, which a release archives.
#   <name>/<TimeDateStamp %08X><SizeOfImage %x>/<name>   the shipped program (a Windows
#   <name>/<key>/<name>.debug                              debugger's symbol-store key)
#   .build-id/<2 hex>/<30 hex>     and .debug             links by build id, for Debian's tools
# The key is read from the staged, stripped file; signing leaves it as it was.
set(symbols ${CPACK_PACKAGE_DIRECTORY}/symbols)
file(REMOVE_RECURSE ${symbols})
foreach(built ${CPACK_NORV_PROGRAMS})
  get_filename_component(name ${built} NAME)
  set(program ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/${name})
  file(READ ${program} dos HEX LIMIT 64)
  string(SUBSTRING ${dos} 120 8 lfanew)  # e_lfanew at 0x3c, little-endian
  string(REGEX REPLACE "(..)(..)(..)(..)" "0x\\4\\3\\2\\1" lfanew ${lfanew})
  math(EXPR pe "${lfanew}")
  # TimeDateStamp 8 bytes into the PE header, SizeOfImage 56 bytes into its
  # optional header (which follows the 24 bytes of signature and file header).
  file(READ ${program} header HEX OFFSET ${pe} LIMIT 84)
  if(NOT header MATCHES "^50450000")
    message(FATAL_ERROR "${program} is not a PE file")
  endif()
  string(SUBSTRING ${header} 16 8 stamp)
  string(SUBSTRING ${header} 160 8 size)
  string(REGEX REPLACE "(..)(..)(..)(..)" "\\4\\3\\2\\1" stamp ${stamp})
  string(REGEX REPLACE "(..)(..)(..)(..)" "0x\\4\\3\\2\\1" size ${size})
  string(TOUPPER ${stamp} stamp)
  math(EXPR size "${size}" OUTPUT_FORMAT HEXADECIMAL)
  string(REGEX REPLACE "^0x" "" size ${size})
  set(folder ${symbols}/${name}/${stamp}${size})
  file(COPY ${program} ${built}.debug DESTINATION ${folder})

  execute_process(COMMAND ${CPACK_NORV_OBJDUMP} -p ${program} OUTPUT_VARIABLE headers)
  if(NOT headers MATCHES "format RSDS signature (..)([0-9a-f]+)")
    message(FATAL_ERROR "${program} has no build id")
  endif()
  set(link ${symbols}/.build-id/${CMAKE_MATCH_1}/${CMAKE_MATCH_2})
  file(MAKE_DIRECTORY ${symbols}/.build-id/${CMAKE_MATCH_1})
  file(CREATE_LINK ../../${name}/${stamp}${size}/${name} ${link} SYMBOLIC)
  file(CREATE_LINK ../../${name}/${stamp}${size}/${name}.debug ${link}.debug SYMBOLIC)
endforeach()
