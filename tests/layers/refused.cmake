# Builds CONTROL, which must compile, then each of TARGETS in BUILD_DIR, and
# fails unless every one of those is refused for a header the layer cannot see.
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target ${CONTROL}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${CONTROL}: a file that keeps to the layering did not compile:\n${out}")
endif()
foreach(target IN LISTS TARGETS)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target ${target}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(status EQUAL 0)
    message(FATAL_ERROR "${target}: compiled, so the layering is not enforced")
  endif()
  # GCC says "No such file or directory", Clang "file not found".
  if(NOT out MATCHES "No such file or directory|file not found")
    message(FATAL_ERROR "${target}: failed for another reason:\n${out}")
  endif()
  string(REGEX MATCH "fatal error: [^\n]*" why "${out}")
  message(STATUS "${target}: refused (${why})")
endforeach()
