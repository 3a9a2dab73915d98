# obrint-cli: the command line over the same headset operations as the window, on the flashing
# engine and the records below it. Native builds use hidraw through hidapi; the Windows build uses
# the window's HID link over hid.dll.
set(OBRINT_CLI_SOURCES)
foreach(name cli flashing options yield_json yield_output)
  list(APPEND OBRINT_CLI_SOURCES ${CMAKE_SOURCE_DIR}/src/cli/${name}.cpp)
endforeach()
foreach(name check flash flash_all info list mode report sample_image stamp station)
  list(APPEND OBRINT_CLI_SOURCES ${CMAKE_SOURCE_DIR}/src/cli/commands/${name}.cpp)
endforeach()
if(NOT WIN32)
  list(APPEND OBRINT_CLI_SOURCES ${CMAKE_SOURCE_DIR}/src/cli/commands/db.cpp
                                 ${CMAKE_SOURCE_DIR}/src/cli/commands/push.cpp)
endif()

if(WIN32)
  # CLI11 and nlohmann-json are header-only: the cross build takes Debian's headers through a
  # folder of its own, so that the rest of /usr/include stays out of its way.
  set(OBRINT_CLI_THIRD_PARTY ${CMAKE_BINARY_DIR}/cli-third-party)
  file(MAKE_DIRECTORY ${OBRINT_CLI_THIRD_PARTY})
  foreach(dir CLI nlohmann)
    if(NOT EXISTS ${OBRINT_CLI_THIRD_PARTY}/${dir})
      file(CREATE_LINK /usr/include/${dir} ${OBRINT_CLI_THIRD_PARTY}/${dir} SYMBOLIC)
    endif()
  endforeach()
  add_library(obrint_cli_deps INTERFACE)
  target_include_directories(obrint_cli_deps SYSTEM INTERFACE ${OBRINT_CLI_THIRD_PARTY})
  set(OBRINT_FILE_HANDLES ${CMAKE_SOURCE_DIR}/src/win/file_handle.cpp)
  set(OBRINT_SIGNALS ${CMAKE_SOURCE_DIR}/src/win/signals.cpp)
  set(OBRINT_CLI_BACKEND ${CMAKE_SOURCE_DIR}/src/cli/host_win.cpp
                         ${CMAKE_SOURCE_DIR}/src/win/hardware_host.cpp)
  set(OBRINT_CLI_PLATFORM_LIBS obrint_win shell32 advapi32)
  set(OBRINT_CLI_LINK ${OBRINT_STATIC_LINK})
else()
  find_package(CLI11 CONFIG REQUIRED)
  find_package(nlohmann_json CONFIG REQUIRED)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(HIDAPI_HIDRAW REQUIRED IMPORTED_TARGET hidapi-hidraw)
  pkg_check_modules(LIBUDEV REQUIRED IMPORTED_TARGET libudev)
  add_library(obrint_cli_deps INTERFACE)
  target_link_libraries(obrint_cli_deps INTERFACE CLI11::CLI11 nlohmann_json::nlohmann_json)
  find_package(Threads REQUIRED)
  set(OBRINT_FILE_HANDLES ${CMAKE_SOURCE_DIR}/src/posix/file_handle.cpp)
  set(OBRINT_SIGNALS ${CMAKE_SOURCE_DIR}/src/posix/signals.cpp)
  set(OBRINT_CLI_BACKEND ${CMAKE_SOURCE_DIR}/src/cli/host_posix.cpp
                         ${CMAKE_SOURCE_DIR}/src/posix/hardware_host.cpp
                         ${CMAKE_SOURCE_DIR}/src/posix/hidraw_bus.cpp
                         ${CMAKE_SOURCE_DIR}/src/posix/udev_watch.cpp)
  set(OBRINT_CLI_PLATFORM_LIBS PkgConfig::HIDAPI_HIDRAW PkgConfig::LIBUDEV Threads::Threads)
  set(OBRINT_CLI_LINK)
endif()

# The yield page's template (HTML, style and script in one file), carried in obrint-cli as one
# string; changing it configures again.
set(OBRINT_YIELD_PAGE_FILE ${CMAKE_SOURCE_DIR}/res/yield_page.html)
file(READ ${OBRINT_YIELD_PAGE_FILE} OBRINT_YIELD_PAGE)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${OBRINT_YIELD_PAGE_FILE})
file(CONFIGURE OUTPUT ${OBRINT_GENERATED_DIR}/yield_page_html.h
     CONTENT "inline constexpr char kYieldPageHtml[] = R\"obrint_page(@OBRINT_YIELD_PAGE@)obrint_page\";\n"
     @ONLY)

# The layers below the command line: files written so that nothing is lost, the records, and the
# flashing engine.
add_library(obrint_files STATIC ${OBRINT_SOURCE_ROOT}/src/files/files.cpp ${OBRINT_FILE_HANDLES})
target_link_libraries(obrint_files PUBLIC obrint_device)
if(WIN32)
  target_link_libraries(obrint_files PUBLIC obrint_winbase)
endif()
add_library(obrint_records STATIC ${OBRINT_RECORDS_SOURCES})
target_link_libraries(obrint_records PUBLIC obrint_files obrint_device obrint_cli_deps)
add_library(obrint_engine STATIC ${OBRINT_ENGINE_SOURCES} ${OBRINT_SIGNALS})
target_link_libraries(obrint_engine PUBLIC obrint_records obrint_database obrint_device)
if(NOT WIN32)
  target_link_libraries(obrint_engine PUBLIC Threads::Threads)
endif()

# What a command line says and asks, on a terminal or not.
add_library(obrint_console STATIC ${OBRINT_SOURCE_ROOT}/src/console/console.cpp
                                  ${OBRINT_SOURCE_ROOT}/src/console/run_view.cpp)
target_link_libraries(obrint_console PUBLIC obrint_engine obrint_device)

# The virtual headsets as a host of the engine (obrint-cli --sim, the tests, the benchmarks).
add_library(obrint_sim_host STATIC ${OBRINT_SOURCE_ROOT}/src/sim/sim_host.cpp)
target_link_libraries(obrint_sim_host PUBLIC obrint_engine obrint_sim obrint_files)

add_library(obrint_cli_lib STATIC ${OBRINT_CLI_SOURCES} ${OBRINT_CLI_BACKEND})
target_link_libraries(obrint_cli_lib PUBLIC obrint_console obrint_engine obrint_sim_host obrint_sim obrint_device
                                            obrint_cli_deps
                                            ${OBRINT_CLI_PLATFORM_LIBS})
target_include_directories(obrint_cli_lib PUBLIC ${OBRINT_GENERATED_DIR})
# nlohmann-json, which most of the command line's units include, is parsed once per build.
target_precompile_headers(obrint_cli_lib PRIVATE <nlohmann/json.hpp>)
if(WIN32)
  # No libpq for the cross build: --db is refused, and the logs are pushed on a collector.
  add_library(obrint_database STATIC ${CMAKE_SOURCE_DIR}/src/database/no_client.cpp)
  target_link_libraries(obrint_database PUBLIC obrint_records)
endif()
target_link_libraries(obrint_cli_lib PUBLIC obrint_database)

add_executable(obrint-cli ${CMAKE_SOURCE_DIR}/src/cli/main.cpp)
if(WIN32)
  # The version record, as Obrint.exe has one.
  target_sources(obrint-cli PRIVATE ${CMAKE_SOURCE_DIR}/res/obrint-cli.rc)
  set_property(SOURCE ${CMAKE_SOURCE_DIR}/res/obrint-cli.rc APPEND PROPERTY INCLUDE_DIRECTORIES
                                                                    ${OBRINT_GENERATED_DIR})
endif()
target_link_libraries(obrint-cli PRIVATE obrint_cli_lib ${OBRINT_CLI_LINK})

if(WIN32)
  set(OBRINT_CLI_TEST_LIBS obrint_cli_lib gmock gtest_main gtest ${OBRINT_STATIC_LINK})
else()
  set(OBRINT_CLI_TEST_LIBS obrint_cli_lib GTest::gtest GTest::gtest_main GTest::gmock)
endif()
# In-process tests on both platforms; the tests that start the program as a process use a POSIX
# shell and run natively only.
set(cli_tests cli_test console_test fleet_test log_report_test station_test)
if(NOT WIN32)
  list(APPEND cli_tests cli_process_test files_test udev_watch_test)
endif()
foreach(name ${cli_tests})
  add_executable(${name} ${CMAKE_SOURCE_DIR}/tests/cli/${name}.cpp)
  target_link_libraries(${name} PRIVATE ${OBRINT_CLI_TEST_LIBS})
  add_test(NAME ${name} COMMAND ${name})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_compile_options(${name} PRIVATE -Wno-missing-field-initializers)
  target_compile_definitions(${name} PRIVATE OBRINT_CLI_EXE="$<TARGET_FILE:obrint-cli>"
                                             OBRINT_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  add_dependencies(${name} obrint-cli)
  # GoogleTest and nlohmann-json parsed once for all of them: their flags are the same.
  if(name STREQUAL cli_test)
    target_precompile_headers(cli_test PRIVATE <gmock/gmock.h> <gtest/gtest.h> <nlohmann/json.hpp>)
  else()
    target_precompile_headers(${name} REUSE_FROM cli_test)
  endif()
endforeach()

if(NOT WIN32)
  # The live tables on a real terminal screen (tmux); the screens are kept as text in build/screens/.
  add_test(NAME live_table_test
           COMMAND bash ${CMAKE_SOURCE_DIR}/tests/cli/live_table_test.sh $<TARGET_FILE:obrint-cli>
                   ${CMAKE_SOURCE_DIR}/build/screens)
  # Every obrint-cli command of README.md and docs/*.md, run as written, in order.
  add_test(NAME docs_test COMMAND bash ${CMAKE_SOURCE_DIR}/tests/cli/docs_test.sh
                                  $<TARGET_FILE:obrint-cli> ${CMAKE_SOURCE_DIR})
  include(${CMAKE_SOURCE_DIR}/cmake/database.cmake)
  # The yield page in headless Chromium (scripts/setup.sh installs it): its figures against
  # report --json, no request leaving it; screenshots at a laptop's and a phone's width and the
  # printout in $OBRINT_SCREENSHOTS (default build/<dir>/screenshots).
  add_test(NAME report_page_browser
           COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/cli/report_page_check.py
                   --cli $<TARGET_FILE:obrint-cli> --screenshots ${CMAKE_BINARY_DIR}/screenshots)
endif()

# `cmake --install`: the program, and on Linux the udev rule that gives the seat's user (and the
# group plugdev) the headset's hidraw nodes. The Debian package puts the rule where Debian 12's
# packages put theirs (cmake/deb.cmake).
install(TARGETS obrint-cli RUNTIME DESTINATION bin)
if(NOT WIN32)
  if(NOT DEFINED OBRINT_UDEV_RULES_DIR)
    set(OBRINT_UDEV_RULES_DIR lib/udev/rules.d)
  endif()
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/70-obrint.rules DESTINATION ${OBRINT_UDEV_RULES_DIR})
endif()

# Under Wine: the arrival watch's window, sent the system's device-interface notifications. It
# builds on its own, apart from obrint-cli.
if(WIN32)
  add_executable(arrival_watch_test ${CMAKE_SOURCE_DIR}/tests/cli/win32/arrival_watch_test.cpp)
  target_link_libraries(arrival_watch_test PRIVATE obrint_win gtest_main gtest ${OBRINT_STATIC_LINK})
  add_test(NAME arrival_watch_test COMMAND arrival_watch_test)
endif()

# Under Wine: the Windows program sent the console's Ctrl+C and Ctrl+Break.
if(WIN32)
  add_executable(cli_console_test ${CMAKE_SOURCE_DIR}/tests/cli/win32/cli_console_test.cpp)
  target_link_libraries(cli_console_test PRIVATE obrint_cli_deps gtest_main gtest
                                                 ${OBRINT_STATIC_LINK})
  target_compile_definitions(cli_console_test PRIVATE OBRINT_CLI_EXE="$<TARGET_FILE:obrint-cli>")
  add_dependencies(cli_console_test obrint-cli)
  add_test(NAME cli_console_test COMMAND cli_console_test)
endif()

# Under Wine: the Windows program end to end over the test-double hid.dll.
if(WIN32)
  add_executable(cli_hiddouble_test ${CMAKE_SOURCE_DIR}/tests/cli/win32/cli_hiddouble_test.cpp)
  target_link_libraries(cli_hiddouble_test PRIVATE obrint_hiddouble obrint_cli_deps gtest_main gtest
                                                   ${OBRINT_STATIC_LINK})
  target_compile_definitions(cli_hiddouble_test PRIVATE OBRINT_CLI_EXE="$<TARGET_FILE:obrint-cli>")
  add_dependencies(cli_hiddouble_test obrint-cli hiddouble)
  add_test(NAME cli_hiddouble_test COMMAND cli_hiddouble_test)
  set_tests_properties(cli_hiddouble_test PROPERTIES RUN_SERIAL TRUE FIXTURES_REQUIRED hiddouble)
endif()
