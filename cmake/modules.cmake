# One object library per subsystem folder. Sources are found by glob so that a
# new module file needs no edit here; subfolders (platform/win32 ...) are included.
set(TREVAN_MODULE_OBJECTS "")

function(trevan_add_module dir)
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS
       ${CMAKE_SOURCE_DIR}/${dir}/*.cpp ${CMAKE_SOURCE_DIR}/${dir}/*.c)
  if(NOT srcs)
    return()
  endif()
  set(target trevan_${dir})
  add_library(${target} OBJECT ${srcs})
  target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC trevan_deps)
  set(TREVAN_MODULE_OBJECTS ${TREVAN_MODULE_OBJECTS} $<TARGET_OBJECTS:${target}> PARENT_SCOPE)
endfunction()
