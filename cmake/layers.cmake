# The program is built as layers, one folder of src/ each, and every layer names the
# layers below it that it uses. Natively each layer is also linked alone as a shared
# object that must resolve every symbol from itself and the layers it names, so a call
# into a layer above fails the build; the include check in the tests catches the
# headers.

# Collects the sources of a folder for this platform: files named *_win32.cpp or
# *_posix.cpp belong to one platform only.
function(trelvo_sources out)
  set(result)
  foreach(dir IN LISTS ARGN)
    file(GLOB found CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.cpp)
    foreach(f IN LISTS found)
      if(NOT f MATCHES "_${TRELVO_OTHER_PLATFORM}\\.cpp$")
        list(APPEND result ${f})
      endif()
    endforeach()
  endforeach()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# trelvo_layer(name [lower layers...] [EXCLUDE files...]): the library trelvo_<name> from
# src/<name>, without the files named after EXCLUDE (a program's main).
function(trelvo_layer name)
  cmake_parse_arguments(PARSE_ARGV 1 layer "" "" "EXCLUDE")
  trelvo_sources(sources src/${name})
  foreach(file IN LISTS layer_EXCLUDE)
    list(REMOVE_ITEM sources ${CMAKE_SOURCE_DIR}/src/${name}/${file})
  endforeach()
  add_library(trelvo_${name}_objects OBJECT ${sources})
  target_include_directories(trelvo_${name}_objects PUBLIC ${CMAKE_SOURCE_DIR}/src)
  add_library(trelvo_${name} STATIC $<TARGET_OBJECTS:trelvo_${name}_objects>)
  target_include_directories(trelvo_${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  set(lower)
  set(checks)
  foreach(dep IN LISTS layer_UNPARSED_ARGUMENTS)
    list(APPEND lower trelvo_${dep})
    list(APPEND checks trelvo_${dep}_linkcheck)
  endforeach()
  target_link_libraries(trelvo_${name} PUBLIC ${lower})
  # The objects compile with the usage requirements of the layers below.
  target_link_libraries(trelvo_${name}_objects PUBLIC ${lower})
  if(NOT WIN32)
    add_library(trelvo_${name}_linkcheck SHARED $<TARGET_OBJECTS:trelvo_${name}_objects>)
    target_link_libraries(trelvo_${name}_linkcheck PUBLIC ${checks})
    target_link_options(trelvo_${name}_linkcheck PRIVATE -Wl,--no-undefined)
    if(TARGET Threads::Threads)
      target_link_libraries(trelvo_${name}_linkcheck PRIVATE Threads::Threads)
    endif()
    set_target_properties(trelvo_${name}_linkcheck PROPERTIES LIBRARY_OUTPUT_DIRECTORY
      ${CMAKE_BINARY_DIR}/layer-check)
  endif()
endfunction()
