# The layers of the product and what each may include.
#
# Sources name headers from the root of the tree ("container/format.h"). No target sees
# the root itself: each layer's compiler sees a root of its own, build/<preset>/layers/<layer>,
# that holds links to its own folder (or headers) only, and gets the roots of the layers
# below it as usage requirements of the targets it links. A header of a layer above, or
# beside, is then not there at all:
#   container/entry_index.cpp: #include "library/stream.h"
#     fatal error: library/stream.h: No such file or directory
#
# vorx_layer_root(<target> <PUBLIC|PRIVATE|INTERFACE> <layer> <path>...)
#   gives <target> the root of <layer>, holding a link to each <path> (a folder or a
#   file, relative to the source root).
function(vorx_layer_root target visibility layer)
  set(root ${PROJECT_BINARY_DIR}/layers/${layer})
  foreach(path ${ARGN})
    get_filename_component(parent ${root}/${path} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${path} ${root}/${path} SYMBOLIC)
  endforeach()
  target_include_directories(${target} ${visibility} ${root})
endfunction()

# vorx_sees(<target> <layer target>)
#   lets <target> include the headers of <layer target> and of the layers below it,
#   without taking its object files (those come from libvorx.a): for the writer and
#   the host services, which are archives of their own.
function(vorx_sees target layer)
  target_include_directories(${target} PUBLIC $<TARGET_PROPERTY:${layer},INTERFACE_INCLUDE_DIRECTORIES>)
endfunction()

# vorx_layer_probe(<name> <layer target> <header>)
#   a test that compiles `#include "<header>"` with exactly the include directories
#   <layer target>'s own sources get, and passes only when the compiler cannot find
#   the header: the include is against the order and must stay impossible.
function(vorx_layer_probe name layer header)
  set(source ${PROJECT_BINARY_DIR}/layer-probes/${name}.cpp)
  file(CONFIGURE OUTPUT ${source} CONTENT "#include \"${header}\"\n")
  add_library(${name} OBJECT EXCLUDE_FROM_ALL ${source})
  set_property(TARGET ${name} PROPERTY INCLUDE_DIRECTORIES $<TARGET_PROPERTY:${layer},INCLUDE_DIRECTORIES>)
  add_test(NAME ${name} COMMAND ${CMAKE_COMMAND} --build ${PROJECT_BINARY_DIR} --target ${name})
  string(REPLACE "." "\\." pattern "${header}")
  set_tests_properties(${name} PROPERTIES LABELS unit
    PASS_REGULAR_EXPRESSION "${pattern}'?:? (No such file or directory|file not found)")
endfunction()
