# Adds every direct subfolder of the current source folder that has a
# CMakeLists.txt, in name order, so a new test, tool or benchmark folder joins
# the build without editing its parent.
function(sentra_add_all_subdirectories)
  file(GLOB _entries LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT _entries)
  foreach(_dir IN LISTS _entries)
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${_dir} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${_dir}/CMakeLists.txt)
      add_subdirectory(${_dir})
    endif()
  endforeach()
endfunction()
