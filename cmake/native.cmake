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
