# 32-bit Windows targets (mingw-w64 cross build): the program, its test doubles and Wine tests.
set(OBRINT_STATIC_LINK -static -static-libgcc -static-libstdc++)
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)

# The Win32 layers and the program.
add_subdirectory(src)
# Obrint.exe's version record takes the version from obrint_version.h.
set_property(SOURCE ${CMAKE_SOURCE_DIR}/res/obrint.rc TARGET_DIRECTORY Obrint APPEND
             PROPERTY INCLUDE_DIRECTORIES ${OBRINT_GENERATED_DIR})

# GoogleTest, cross-built from Debian's sources.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(t gtest gtest_main gmock gmock_main)
  target_compile_options(${t} PRIVATE -w)
endforeach()

add_subdirectory(tests/hiddouble)
add_subdirectory(tests/win32)
add_subdirectory(tests/gui)
include(${CMAKE_SOURCE_DIR}/cmake/cli.cmake)

# The tests' own code is compiled without optimisation, in half the time; the code they test keeps
# the release build's.
set(obrint_test_code gtest gtest_main gmock gmock_main ${cli_tests} arrival_watch_test cli_console_test
                     cli_hiddouble_test)
foreach(dir tests/win32 tests/gui)
  get_property(targets DIRECTORY ${CMAKE_SOURCE_DIR}/${dir} PROPERTY BUILDSYSTEM_TARGETS)
  list(APPEND obrint_test_code ${targets})
endforeach()
foreach(target ${obrint_test_code})
  target_compile_options(${target} PRIVATE -O0)
endforeach()
