# Native (Linux) targets: unit tests of the portable code.
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)

add_library(obrint_native_testlib INTERFACE)
target_link_libraries(obrint_native_testlib INTERFACE obrint_sim obrint_core GTest::gtest
                      GTest::gtest_main GTest::gmock Threads::Threads)
target_include_directories(obrint_native_testlib INTERFACE tests)
obrint_add_tests(${CMAKE_SOURCE_DIR}/tests/native obrint_native_testlib)

if(EXISTS ${CMAKE_SOURCE_DIR}/cmake/native-extra.cmake)
  include(${CMAKE_SOURCE_DIR}/cmake/native-extra.cmake)
endif()
include(${CMAKE_SOURCE_DIR}/cmake/cli.cmake)
include(${CMAKE_SOURCE_DIR}/cmake/bench.cmake)
