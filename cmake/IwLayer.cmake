# SPDX-License-Identifier: GPL-3.0-or-later
# iw_layer(NAME SOURCES <files...> LINKS <targets...>)
# Declares the library target iw_NAME of one layer. The LINKS list is the whole
# of what the layer may use; tests/layering.sh checks the includes against it.
# A layer with no sources yet is an INTERFACE target so that its dependency
# rule is already in place for the code that will arrive.
function(iw_layer name)
  cmake_parse_arguments(L "" "" "SOURCES;LINKS" ${ARGN})
  if(L_SOURCES)
    add_library(iw_${name} STATIC ${L_SOURCES})
    target_link_libraries(iw_${name} PUBLIC ${L_LINKS})
  else()
    add_library(iw_${name} INTERFACE)
    target_link_libraries(iw_${name} INTERFACE ${L_LINKS})
  endif()
endfunction()
