# orbitune_layer(<target> DIR <folder> SOURCES <files...>)
#
# Declares one layer of the program as a static library. The library's
# headers are reachable only through an include root of its own
# (<build>/layers/<target>/<folder> links back to the source folder), so a
# target sees the headers of exactly the layers it links: an include of a
# layer that is not linked fails to compile, as does a Qt or GStreamer header
# whose package the layer does not link. Dependencies are declared with
# target_link_libraries as usual.
get_filename_component(ORBITUNE_SOURCE_ROOT ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
option(ORBITUNE_UNITY_BUILD "Compile each layer in a few combined files" ON)
# How many files each combined file holds; 0 puts a whole layer in one.
set(ORBITUNE_UNITY_BATCH 6 CACHE STRING "Files per combined file of a layer (0: all)")

function(orbitune_layer name)
  cmake_parse_arguments(L "" "DIR" "SOURCES" ${ARGN})
  add_library(${name} STATIC ${L_SOURCES})
  set(root ${CMAKE_BINARY_DIR}/layers/${name})
  get_filename_component(parent ${root}/${L_DIR} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  if(NOT EXISTS ${root}/${L_DIR})
    file(CREATE_LINK ${ORBITUNE_SOURCE_ROOT}/${L_DIR} ${root}/${L_DIR} SYMBOLIC)
  endif()
  target_include_directories(${name} PUBLIC ${root})
  # A layer compiles as a few large files: Qt's headers are parsed once per
  # batch instead of once per file.
  set_target_properties(${name} PROPERTIES UNITY_BUILD ${ORBITUNE_UNITY_BUILD}
                                           UNITY_BUILD_BATCH_SIZE ${ORBITUNE_UNITY_BATCH})
endfunction()
