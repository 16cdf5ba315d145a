# orbitune_narrow_qt_includes(<module>...)
#
# Every Qt target puts Qt's whole include root on its users' path, so a file
# that links only QtCore could still include <QtWidgets/QWidget>. This gives
# each listed module a root of its own, holding that module's folder alone,
# and puts it in place of the shared root: a target reaches <QtX/...> only
# when it links QtX (directly or through what it links publicly).
function(orbitune_narrow_qt_includes)
  get_target_property(core_dirs Qt6::Core INTERFACE_INCLUDE_DIRECTORIES)
  list(GET core_dirs 0 core_dir)
  get_filename_component(qt_root ${core_dir} DIRECTORY)
  foreach(module ${ARGN})
    if(NOT TARGET Qt6::${module})
      continue()
    endif()
    set(root ${CMAKE_BINARY_DIR}/qt-roots/Qt${module})
    file(MAKE_DIRECTORY ${root})
    if(NOT EXISTS ${root}/Qt${module})
      file(CREATE_LINK ${qt_root}/Qt${module} ${root}/Qt${module} SYMBOLIC)
    endif()
    get_target_property(dirs Qt6::${module} INTERFACE_INCLUDE_DIRECTORIES)
    list(TRANSFORM dirs REPLACE "^${qt_root}$" "${root}")
    set_target_properties(Qt6::${module} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${dirs}")
  endforeach()
  # The platform target carries the shared root too; its own folder (mkspecs)
  # is all it needs.
  get_target_property(dirs Qt6::Platform INTERFACE_INCLUDE_DIRECTORIES)
  list(REMOVE_ITEM dirs ${qt_root})
  set_target_properties(Qt6::Platform PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${dirs}")
endfunction()
