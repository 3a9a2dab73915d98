# The line's PostgreSQL database (src/database) over libpq: natively only, since Debian packages
# no libpq for the mingw cross build (obrint-cli.exe keeps its log; a collector pushes it).
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBPQ REQUIRED IMPORTED_TARGET libpq)
add_library(obrint_database STATIC ${CMAKE_SOURCE_DIR}/src/database/connection.cpp
                                   ${CMAKE_SOURCE_DIR}/src/database/outbox.cpp
                                   ${CMAKE_SOURCE_DIR}/src/database/push.cpp
                                   ${CMAKE_SOURCE_DIR}/src/database/schema.cpp
                                   ${CMAKE_SOURCE_DIR}/src/database/yield_query.cpp)
target_link_libraries(obrint_database PUBLIC obrint_records PkgConfig::LIBPQ)

# The database's tests, on a server of their own that ctest starts before them and stops after,
# whether they pass or fail (tests/database/pg-server.sh).
set(OBRINT_PG_DIR ${CMAKE_BINARY_DIR}/pg-server)
add_test(NAME database_server_start
         COMMAND ${CMAKE_SOURCE_DIR}/tests/database/pg-server.sh start ${OBRINT_PG_DIR})
add_test(NAME database_server_stop
         COMMAND ${CMAKE_SOURCE_DIR}/tests/database/pg-server.sh stop ${OBRINT_PG_DIR})
set_tests_properties(database_server_start PROPERTIES FIXTURES_SETUP database LABELS database)
set_tests_properties(database_server_stop PROPERTIES FIXTURES_CLEANUP database LABELS database)
add_executable(database_test ${CMAKE_SOURCE_DIR}/tests/database/database_test.cpp)
target_link_libraries(database_test PRIVATE ${OBRINT_CLI_TEST_LIBS})
target_include_directories(database_test PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_compile_options(database_test PRIVATE -Wno-missing-field-initializers)
target_compile_definitions(database_test PRIVATE OBRINT_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
add_test(NAME database_test COMMAND database_test)
set_tests_properties(database_test PROPERTIES FIXTURES_REQUIRED database LABELS database
                                              ENVIRONMENT OBRINT_TEST_PG=${OBRINT_PG_DIR})
# The documents' commands, database.md's and stations.md's among them, against the same server.
set_tests_properties(docs_test PROPERTIES FIXTURES_REQUIRED database
                                          ENVIRONMENT OBRINT_TEST_PG=${OBRINT_PG_DIR})
