# 32-bit Windows targets (mingw-w64 cross build): the program, its test doubles and Wine tests.
set(OBRINT_STATIC_LINK -static -static-libgcc -static-libstdc++)
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)

# The HID link and the Device path: the Windows edge that the program and the Win32 tests share.
file(GLOB OBRINT_WIN_SOURCES CONFIGURE_DEPENDS src/hid/*.cpp src/devpath/*.cpp)
add_library(obrint_win STATIC ${OBRINT_WIN_SOURCES})
target_link_libraries(obrint_win PUBLIC obrint_core advapi32 shlwapi)

# The program.
if(EXISTS ${CMAKE_SOURCE_DIR}/src/CMakeLists.txt)
  add_subdirectory(src)
endif()

# GoogleTest, cross-built from Debian's sources.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(t gtest gtest_main gmock gmock_main)
  target_compile_options(${t} PRIVATE -w)
endforeach()

foreach(dir tests/hiddouble tests/win32 tests/gui)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
  endif()
endforeach()
include(${CMAKE_SOURCE_DIR}/cmake/cli.cmake)
