# orbitune_narrow_moc()
#
# moc reads every header it finds through a target's include paths, to learn
# the macros and metatypes its output depends on. Only our headers and Qt's
# change what it writes; the system's (the C++ library, GLib, GStreamer,
# GUPnP) took two thirds of its time, and moc ran for each of some seventy
# targets. Every target's moc is given only our paths and Qt's, through a
# small wrapper. Call it once, after every target is made.
function(orbitune_narrow_moc)
  if(NOT TARGET Qt6::moc)
    return()
  endif()
  get_target_property(moc Qt6::moc IMPORTED_LOCATION)
  if(NOT moc)
    return()
  endif()
  set(wrapper ${CMAKE_BINARY_DIR}/moc-narrow)
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/moc-narrow.in ${wrapper} @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
  orbitune_targets_under(${CMAKE_SOURCE_DIR} targets)
  foreach(target IN LISTS targets)
    get_target_property(automoc ${target} AUTOMOC)
    if(automoc)
      set_target_properties(${target} PROPERTIES AUTOMOC_EXECUTABLE ${wrapper})
    endif()
  endforeach()
endfunction()
