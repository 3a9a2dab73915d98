# Benchmarks (Google Benchmark): built with the native targets so that they keep compiling, but not
# registered with ctest. Run: build/native/obrint_bench (see docs/benchmarks.md). A sanitizer's
# build leaves them out: its figures would mean nothing.
find_package(benchmark QUIET)
if(OBRINT_SANITIZE OR OBRINT_THREAD_SANITIZE)
  return()
endif()
if(benchmark_FOUND)
  add_executable(obrint_bench
    ${CMAKE_SOURCE_DIR}/bench/checksum_bench.cpp
    ${CMAKE_SOURCE_DIR}/bench/fleet_bench.cpp
    ${CMAKE_SOURCE_DIR}/bench/push_bench.cpp
    ${CMAKE_SOURCE_DIR}/bench/station_bench.cpp
    ${CMAKE_SOURCE_DIR}/bench/upgrade_bench.cpp)
  target_include_directories(obrint_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(obrint_bench PRIVATE obrint_cli_lib obrint_sim obrint_presenters obrint_device
                        benchmark::benchmark benchmark::benchmark_main)
  # The yield report's benchmark counts the heap through its own operator new: a program of its
  # own, on the report's library alone.
  add_executable(obrint_report_bench ${CMAKE_SOURCE_DIR}/bench/report_bench.cpp)
  target_link_libraries(obrint_report_bench PRIVATE obrint_cli_lib benchmark::benchmark
                        benchmark::benchmark_main)
else()
  message(STATUS "Google Benchmark not found (libbenchmark-dev): no obrint_bench")
endif()
