# The Debian package of obrint-cli, made by scripts/package.sh (-DOBRINT_DEB=ON, then cpack): the
# program and its udev rule (cli.cmake), a man page written from the program's own help at build
# time, bash completion, AppStream metadata, the README with the documents it links to (docs/), the
# changelog and the copyright file. Its Depends come from the shared libraries the program links
# (dpkg-shlibdeps).
option(OBRINT_DEB "Build the Debian package's files and configure CPack to make it" OFF)
if(NOT OBRINT_DEB)
  return()
endif()

find_program(OBRINT_HELP2MAN help2man REQUIRED)
find_program(OBRINT_GZIP gzip REQUIRED)
set(OBRINT_UDEV_RULES_DIR /lib/udev/rules.d)
set(OBRINT_DEB_DIR ${CMAKE_BINARY_DIR}/deb)
file(MAKE_DIRECTORY ${OBRINT_DEB_DIR})
# Documentation files as Debian keeps them: compressed, without a time stamp.
add_custom_command(
  OUTPUT ${OBRINT_DEB_DIR}/obrint-cli.1.gz
  COMMAND ${CMAKE_SOURCE_DIR}/packaging/make-manpage.sh $<TARGET_FILE:obrint-cli>
          ${OBRINT_DEB_DIR}/obrint-cli.1
  COMMAND ${OBRINT_GZIP} -9nf ${OBRINT_DEB_DIR}/obrint-cli.1
  DEPENDS obrint-cli ${CMAKE_SOURCE_DIR}/packaging/make-manpage.sh
  COMMENT "Writing obrint-cli's man page from its --help")
foreach(doc README.md packaging/changelog docs/stations.md)
  get_filename_component(name ${doc} NAME)
  add_custom_command(
    OUTPUT ${OBRINT_DEB_DIR}/${name}.gz
    COMMAND ${OBRINT_GZIP} -9nc ${CMAKE_SOURCE_DIR}/${doc} > ${OBRINT_DEB_DIR}/${name}.gz
    DEPENDS ${CMAKE_SOURCE_DIR}/${doc})
endforeach()
add_custom_target(obrint-deb-files ALL
  DEPENDS ${OBRINT_DEB_DIR}/obrint-cli.1.gz ${OBRINT_DEB_DIR}/README.md.gz
          ${OBRINT_DEB_DIR}/changelog.gz ${OBRINT_DEB_DIR}/stations.md.gz)

install(FILES ${OBRINT_DEB_DIR}/obrint-cli.1.gz DESTINATION share/man/man1)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/obrint-cli.bash-completion
        DESTINATION share/bash-completion/completions RENAME obrint-cli)
# The hardware it serves, for software centres (AppStream).
install(FILES ${CMAKE_SOURCE_DIR}/packaging/obrint-cli.metainfo.xml DESTINATION share/metainfo
        RENAME org.example.obrint.cli.metainfo.xml)
install(FILES ${OBRINT_DEB_DIR}/README.md.gz ${OBRINT_DEB_DIR}/changelog.gz
              ${CMAKE_SOURCE_DIR}/packaging/copyright
        DESTINATION share/doc/obrint-cli)
# Where the README's links lead: docs/stations.md (compressed, as Debian keeps documents of its
# size), docs/record.schema.json (small: kept as it is, so that a tool can read it) and the yield
# page's screenshot.
install(FILES ${OBRINT_DEB_DIR}/stations.md.gz ${CMAKE_SOURCE_DIR}/docs/record.schema.json
              ${CMAKE_SOURCE_DIR}/docs/yield-page.png
        DESTINATION share/doc/obrint-cli/docs)

# cpack installs without building: package.sh builds obrint-cli and obrint-deb-files first, and
# none of the tests.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME obrint-cli)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Obrint developers <obrint@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "service tool for a USB VR headset: firmware, image checksums, run mode
obrint-cli looks after a USB VR headset (HID, vendor 0x2833): it lists the
attached headsets, reads their firmware version and MCU ID, writes a new
firmware image into one headset or into every attached headset at once,
stamps an image's checksum, and shows or sets the run mode. A built-in
virtual headset (--sim) lets a technician try it without one.
.
It reaches the headset through the kernel's hidraw driver. The package's udev
rule gives the user at the seat, and the members of the group plugdev on
stations without a seat, access to the headset.")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
