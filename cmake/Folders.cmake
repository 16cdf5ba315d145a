# orbitune_add_folders([EXCEPT <folder>...])
#
# Adds every folder directly under the current source folder that has a
# CMakeLists.txt, in name order, except the folders named and those that are
# builds of their own (their CMakeLists.txt declares a project). A new folder
# is built, tested or benchmarked without adding it to a list; the order does
# not matter because each library names what it links.
function(orbitune_add_folders)
  cmake_parse_arguments(F "" "" "EXCEPT" ${ARGN})
  file(GLOB lists RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*/CMakeLists.txt)
  list(SORT lists)
  foreach(list IN LISTS lists)
    get_filename_component(folder ${list} DIRECTORY)
    if(folder IN_LIST F_EXCEPT)
      continue()
    endif()
    file(STRINGS ${CMAKE_CURRENT_SOURCE_DIR}/${list} own_project REGEX "^[ \t]*project[ \t]*\\(")
    if(own_project)
      continue()
    endif()
    add_subdirectory(${folder})
  endforeach()
endfunction()

# orbitune_targets_under(<dir> <out>): the targets made in dir and its folders.
function(orbitune_targets_under dir out)
  get_property(found DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    orbitune_targets_under(${sub} more)
    list(APPEND found ${more})
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()
