# Fuzz targets, one program per tests/fuzz/fuzz_*.cpp. With TRELVO_FUZZ (the fuzz preset,
# clang) they are libFuzzer programs; otherwise each replays its seed corpus in
# tests/fuzz/corpus/<name> and runs as a test, so what the fuzzer found stays fixed.
file(GLOB fuzz_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/fuzz_*.cpp)
foreach(source IN LISTS fuzz_sources)
  get_filename_component(stem ${source} NAME_WE)
  string(REGEX REPLACE "^fuzz_" "" corpus ${stem})
  string(REPLACE "_" "-" name ${stem})
  if(TRELVO_FUZZ)
    add_executable(${name} ${source})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  else()
    add_executable(${name} ${source} ${CMAKE_SOURCE_DIR}/tests/fuzz/replay_main.cpp)
    add_test(NAME fuzz.${corpus} COMMAND ${name} ${CMAKE_SOURCE_DIR}/tests/fuzz/corpus/${corpus})
  endif()
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE trelvo_simlib trelvo_settings)
endforeach()
