# Native (Linux) targets: unit tests of the portable code.
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)

add_library(obrint_native_testlib INTERFACE)
target_link_libraries(obrint_native_testlib INTERFACE obrint_sim obrint_presenters obrint_device GTest::gtest
                      GTest::gtest_main GTest::gmock Threads::Threads)
target_include_directories(obrint_native_testlib INTERFACE tests)
# Tests set the fields they mean by designated initializers and leave the rest to their defaults.
target_compile_options(obrint_native_testlib INTERFACE -Wno-missing-field-initializers)
obrint_add_tests(${CMAKE_SOURCE_DIR}/tests/native
  NAMES headset_ops_test sim_test units_test upgrade_test
  LIBS obrint_native_testlib)

# The fuzz targets' seed corpora, replayed as ordinary tests: their invariants hold in every build.
foreach(target interface_name discovery image_stamp firmware_upgrade)
  add_executable(${target}_replay ${CMAKE_SOURCE_DIR}/fuzz/${target}_fuzz.cpp
                                  ${CMAKE_SOURCE_DIR}/fuzz/replay_main.cpp)
  target_link_libraries(${target}_replay PRIVATE obrint_sim obrint_presenters obrint_device)
  target_compile_options(${target}_replay PRIVATE -Wno-missing-field-initializers)
  target_include_directories(${target}_replay PRIVATE ${CMAKE_SOURCE_DIR}/tests
                                                      ${CMAKE_SOURCE_DIR}/fuzz)
  add_test(NAME ${target}_corpus COMMAND ${target}_replay ${CMAKE_SOURCE_DIR}/fuzz/corpus/${target})
endforeach()

include(${CMAKE_SOURCE_DIR}/cmake/deb.cmake)
include(${CMAKE_SOURCE_DIR}/cmake/cli.cmake)
include(${CMAKE_SOURCE_DIR}/cmake/bench.cmake)

# The tests' own code is compiled without optimisation, in half the time; the code they test keeps
# the build's (Release, as the Debian package ships it, in the native tier of scripts/test-all.sh).
# Unoptimised code cannot be fortified: _FORTIFY_SOURCE, which Debian's flags set, is taken back.
get_property(targets DIRECTORY PROPERTY BUILDSYSTEM_TARGETS)
foreach(target ${targets})
  get_target_property(type ${target} TYPE)
  if(type STREQUAL EXECUTABLE AND NOT target MATCHES "^obrint")
    target_compile_options(${target} PRIVATE -O0 -U_FORTIFY_SOURCE)
  endif()
endforeach()
