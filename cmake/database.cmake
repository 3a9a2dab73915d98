# The line's PostgreSQL database (src/database) over libpq: natively only, since Debian packages
# no libpq for the mingw cross build (obrint-cli.exe keeps its log; a collector pushes it).
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBPQ REQUIRED IMPORTED_TARGET libpq)
add_library(obrint_database STATIC ${CMAKE_SOURCE_DIR}/src/database/connection.cpp
                                   ${CMAKE_SOURCE_DIR}/src/database/push.cpp
                                   ${CMAKE_SOURCE_DIR}/src/database/schema.cpp)
target_link_libraries(obrint_database PUBLIC obrint_device PkgConfig::LIBPQ)
