# qv_set_warnings(target): the project's warning set, errors when QV_WERROR is on.
function(qv_set_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${QV_WERROR}>:/WX>)
  else()
    target_compile_options(${target} PRIVATE
      -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
      -Wnon-virtual-dtor -Woverloaded-virtual -Wimplicit-fallthrough
      $<$<BOOL:${QV_WERROR}>:-Werror>
      # GCC 12 at -O3 reports impossible overlaps inside std::string's own
      # inlined copies (GCC bug 105329); the warning says nothing about our code.
      $<$<AND:$<CXX_COMPILER_ID:GNU>,$<VERSION_LESS:$<CXX_COMPILER_VERSION>,13>>:-Wno-restrict>)
  endif()
endfunction()

# qv_module_library(name SOURCES file... LIBS lib...): a static library of
# one folder's sources, named one by one so that a file is built because it
# is listed, with the project's warnings. The source root is the include
# root, so headers are included as "module/Header.h".
function(qv_module_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  qv_set_warnings(${name})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
endfunction()
