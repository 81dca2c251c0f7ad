# Turns every model source under SOURCES into a text body and every cut source
# into a text cut, at the same place under DEMO (v/00600.model to
# v/00600.bod, cut/00610.cut to cut/00610.bod), with BODYCONV; a numbered body
# also into the binary body the loader tries first (v/00600.bob).
# Run as: cmake -DBODYCONV=... -DSOURCES=... -DDEMO=... -P convert.cmake
file(GLOB_RECURSE sources RELATIVE ${SOURCES} ${SOURCES}/*.model ${SOURCES}/*.cut)
foreach(src ${sources})
  string(REGEX REPLACE "\\.(model|cut)$" ".bod" out ${src})
  get_filename_component(dir ${DEMO}/${out} DIRECTORY)
  file(MAKE_DIRECTORY ${dir})
  if(src MATCHES "\\.cut$")
    set(mode cuttext)
  else()
    set(mode text)
  endif()
  execute_process(COMMAND ${BODYCONV} ${mode} ${SOURCES}/${src} ${DEMO}/${out} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "bodyconv ${mode} ${src} failed")
  endif()
  if(out MATCHES "^v/([0-9]+)\\.bod$")
    execute_process(COMMAND ${BODYCONV} bin ${CMAKE_MATCH_1} WORKING_DIRECTORY ${DEMO} RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "bodyconv bin ${CMAKE_MATCH_1} failed")
    endif()
  endif()
endforeach()
