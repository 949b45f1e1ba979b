# PE images made by a real toolchain (Debian's binutils-mingw-w64-x86-64 and -i686) at build
# time, so that the layout the version reader meets is a linker's: an entry point from
# tests/support/fixtures/start.s, linked with the compiled resource script, if any.
#
#   qvu_pe_image(OUT ARCH KIND RC [DEFINE ...])
# OUT the image's full path; ARCH x86_64 or i686; KIND exe or dll; RC a resource script (full
# path) or ""; each DEFINE goes to windres as -DDEFINE. The image joins the list named by
# QVU_PE_LIST in the caller's scope.
find_program(QVU_CPP cpp REQUIRED)
foreach(arch x86_64 i686)
  foreach(tool as ld windres)
    find_program(QVU_${arch}_${tool} ${arch}-w64-mingw32-${tool} REQUIRED)
  endforeach()
endforeach()
set(QVU_PE_START ${CMAKE_SOURCE_DIR}/tests/support/fixtures/start.s)

function(qvu_pe_image out arch kind rc)
  get_filename_component(dir ${out} DIRECTORY)
  set(objects ${out}.start.o)
  set(steps COMMAND ${QVU_${arch}_as} ${QVU_PE_START} -o ${out}.start.o)
  set(depends ${QVU_PE_START})
  if(rc)
    set(defines)
    foreach(d ${ARGN})
      list(APPEND defines -D${d})
    endforeach()
    list(APPEND objects ${out}.res.o)
    list(APPEND steps COMMAND ${QVU_${arch}_windres} --preprocessor=${QVU_CPP} ${defines}
         -i ${rc} -o ${out}.res.o)
    list(APPEND depends ${rc})
  endif()
  set(dll)
  if(kind STREQUAL "dll")
    set(dll --dll)
  endif()
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    ${steps}
    COMMAND ${QVU_${arch}_ld} ${dll} -e start -o ${out} ${objects}
    DEPENDS ${depends} VERBATIM)
  set(${QVU_PE_LIST} ${${QVU_PE_LIST}} ${out} PARENT_SCOPE)
endfunction()
