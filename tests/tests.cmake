# Unit tests: tests/unit on every platform, tests/posix natively, tests/win32 under Wine.
# Tests that need an environment a script sets up (a simulator on a real serial port)
# are in tests/env and run by that script only.
if(WIN32)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(gtest_libs gtest gmock)
else()
  find_package(GTest REQUIRED)
  set(gtest_libs GTest::gtest GTest::gmock)
endif()

file(GLOB unit_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*.cpp
     ${CMAKE_SOURCE_DIR}/tests/${TRELVO_PLATFORM}/*.cpp)
add_executable(trelvo_tests ${unit_sources} ${CMAKE_SOURCE_DIR}/tests/test_main.cpp)
target_include_directories(trelvo_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(trelvo_tests PRIVATE trelvo_simlib trelvo_cli ${gtest_libs})
target_compile_definitions(trelvo_tests PRIVATE TRELVO_SOURCE_DIR="${CMAKE_SOURCE_DIR}")

trelvo_sources(env_sources tests/env)
add_executable(trelvo_env_tests ${env_sources} ${CMAKE_SOURCE_DIR}/tests/test_main.cpp)
target_include_directories(trelvo_env_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(trelvo_env_tests PRIVATE trelvo_protocol ${gtest_libs})

if(WIN32)
  # One CTest entry for the whole binary: starting Wine per test case would cost minutes.
  add_test(NAME unit COMMAND trelvo_tests)
else()
  include(GoogleTest)
  gtest_discover_tests(trelvo_tests DISCOVERY_TIMEOUT 60)
endif()

# End-to-end scripts: tests/e2e/*.sh, each run with the build folder and the native
# build folder (where trelvo-sim lives) as arguments.
set(TRELVO_NATIVE_BUILD "" CACHE PATH "Native build folder holding trelvo-sim (for Windows end-to-end tests)")
file(GLOB e2e_scripts CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/*.sh)
foreach(script IN LISTS e2e_scripts)
  get_filename_component(name ${script} NAME_WE)
  if(WIN32)
    set(native_build ${TRELVO_NATIVE_BUILD})
  else()
    set(native_build ${CMAKE_BINARY_DIR})
  endif()
  add_test(NAME e2e.${name} COMMAND bash ${script} ${CMAKE_BINARY_DIR} ${native_build} ${TRELVO_PLATFORM})
  set_tests_properties(e2e.${name} PROPERTIES TIMEOUT 600 LABELS e2e)
endforeach()

# The Windows program's windows driven in-process (tests/gui), built with the program's
# resources; tests/e2e/gui_windows.sh runs it against the simulator on mapped COM ports.
if(WIN32)
  file(GLOB gui_test_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/gui/*.cpp)
  if(gui_test_sources)
    add_executable(trelvo_gui_tests ${gui_test_sources} ${CMAKE_SOURCE_DIR}/src/resources/trelvo.rc)
    target_include_directories(trelvo_gui_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    target_link_libraries(trelvo_gui_tests PRIVATE trelvo_app trelvo_simlib ${gtest_libs})
  endif()
endif()

if(NOT WIN32)
  include(${CMAKE_SOURCE_DIR}/tests/fuzz/fuzz.cmake)
  # A short fault soak: fails on an update reported OK with a wrong image, a failure
  # without a message, or a run that hangs.
  add_test(NAME soak.short COMMAND soak-update --runs 40 --seed 11)
  add_test(NAME soak.fast COMMAND soak-update --runs 40 --seed 12 --transfer-speed 9)
  # The Linux tool against real serial drivers in small virtual machines (tests/kernel);
  # scripts/test-all.sh runs it on its own, after the other native tests.
  add_test(NAME kernel COMMAND bash ${CMAKE_SOURCE_DIR}/tests/kernel/run.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(kernel PROPERTIES TIMEOUT 600 LABELS kernel)
endif()

# Every #include points down the layers (the sources are the same for both builds).
if(NOT WIN32)
  add_test(NAME layers COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR}
           -P ${CMAKE_SOURCE_DIR}/cmake/check_layers.cmake)
endif()
