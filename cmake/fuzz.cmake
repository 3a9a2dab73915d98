# Fuzz targets: one executable per fuzz/*_fuzz.cpp, each linked with the portable code built with
# the same instrumentation. Needs clang with libFuzzer (Debian: clang, libclang-rt-14-dev).
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "The fuzz targets need clang (-DCMAKE_CXX_COMPILER=clang++)")
endif()

set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE RelWithDebInfo)
endif()

get_filename_component(OBRINT_ROOT ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
# Every finding aborts, UndefinedBehaviorSanitizer's included, so that the fuzzer keeps the input.
set(OBRINT_FUZZ_SANITIZERS address,undefined)
set(OBRINT_FUZZ_FLAGS -fno-omit-frame-pointer -fno-sanitize-recover=all -gline-tables-only)

# The code under test and the simulated headset, with coverage instrumentation but without
# libFuzzer's main.
include(${CMAKE_CURRENT_LIST_DIR}/sources.cmake)
add_library(obrint_portable_fuzz STATIC ${OBRINT_DEVICE_SOURCES} ${OBRINT_PRESENTERS_SOURCES} ${OBRINT_SIM_SOURCES})
target_include_directories(obrint_portable_fuzz PUBLIC ${OBRINT_ROOT}/src)
target_compile_options(obrint_portable_fuzz PRIVATE -Wall -Wextra
                       -fsanitize=fuzzer-no-link,${OBRINT_FUZZ_SANITIZERS} ${OBRINT_FUZZ_FLAGS})

# The tests' in-memory files, user interface and reference sums serve as the targets' too.
foreach(target interface_name discovery image_stamp firmware_upgrade)
  set(name ${target}_fuzz)
  add_executable(${name} ${OBRINT_ROOT}/fuzz/${name}.cpp)
  target_include_directories(${name} PRIVATE ${OBRINT_ROOT}/tests ${OBRINT_ROOT}/fuzz)
  target_compile_options(${name} PRIVATE -Wall -Wextra -Werror
                         -fsanitize=fuzzer,${OBRINT_FUZZ_SANITIZERS} ${OBRINT_FUZZ_FLAGS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,${OBRINT_FUZZ_SANITIZERS})
  target_link_libraries(${name} PRIVATE obrint_portable_fuzz)
endforeach()
