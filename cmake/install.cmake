# Installation and the Debian package: the programs with their manual pages, a desktop
# entry, the application icon (vector, plus a 32 x 32 picture rendered from it at build
# time), and the package's copyright file and changelog.
include(GNUInstallDirs)

# The programs the package carries. Each has its manual page in resources/man/<name>.1;
# a program whose target this build does not define (yet) is left out.
set(ZFUSE_PROGRAMS zfuse zfuse-sim zfusectl)

set(CPACK_PACKAGE_CONTACT "Zokara service <service@zokara.example.com>")
set(ZFUSE_HOMEPAGE "http://www.zokara.example.com")

# Directories made by the installation are rwxr-xr-x whatever the umask of the build.
set(ZFUSE_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${ZFUSE_DIRECTORY_PERMISSIONS})
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${ZFUSE_DIRECTORY_PERMISSIONS})

qt_add_executable(svg2png tools/svg2png.cpp)
target_link_libraries(svg2png PRIVATE Qt6::Gui Qt6::Svg)
set(ZFUSE_ICON_PNG ${CMAKE_CURRENT_BINARY_DIR}/zfuse-32.png)
add_custom_command(OUTPUT ${ZFUSE_ICON_PNG}
  COMMAND svg2png ${PROJECT_SOURCE_DIR}/resources/icons/zfuse.svg ${ZFUSE_ICON_PNG} 32
  DEPENDS svg2png ${PROJECT_SOURCE_DIR}/resources/icons/zfuse.svg
  COMMENT "Rendering the 32 x 32 application icon")
add_custom_target(zfuse_icon ALL DEPENDS ${ZFUSE_ICON_PNG})

# Manual pages and the changelog take the version from the project() line (@PROJECT_VERSION@
# in their sources) and are compressed the way Debian wants them: gzip -9n, so that the
# header holds no file name and no time and the same sources give the same bytes.
find_program(ZFUSE_GZIP gzip REQUIRED)
set(ZFUSE_PACKAGE_DIR ${CMAKE_CURRENT_BINARY_DIR}/package)
set(zfuse_gzipped "")
function(zfuse_gzip_text source name)  # gives ${ZFUSE_PACKAGE_DIR}/${name}.gz
  configure_file(${source} ${ZFUSE_PACKAGE_DIR}/${name} @ONLY)
  add_custom_command(OUTPUT ${ZFUSE_PACKAGE_DIR}/${name}.gz
    COMMAND ${ZFUSE_GZIP} -9 -n -k -f ${name}
    DEPENDS ${ZFUSE_PACKAGE_DIR}/${name}
    WORKING_DIRECTORY ${ZFUSE_PACKAGE_DIR}
    COMMENT "Compressing ${name}" VERBATIM)
  set(zfuse_gzipped ${zfuse_gzipped} ${ZFUSE_PACKAGE_DIR}/${name}.gz PARENT_SCOPE)
endfunction()

set(zfuse_installed_programs "")
foreach(program IN LISTS ZFUSE_PROGRAMS)
  if(NOT TARGET ${program})
    continue()
  endif()
  set(page ${PROJECT_SOURCE_DIR}/resources/man/${program}.1)
  if(NOT EXISTS ${page})
    message(FATAL_ERROR "${program} is installed but has no manual page ${page}")
  endif()
  install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  zfuse_gzip_text(${page} ${program}.1)
  install(FILES ${ZFUSE_PACKAGE_DIR}/${program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  list(APPEND zfuse_installed_programs ${program})
endforeach()
# The list of installed programs, for tools/check-install.sh.
list(JOIN zfuse_installed_programs "\n" zfuse_program_lines)
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/installed-programs.txt
     CONTENT "${zfuse_program_lines}\n" @ONLY)

# The changelog of a native package is changelog.gz; its newest entry carries the
# project version and the maintainer named above.
set(ZFUSE_MAINTAINER ${CPACK_PACKAGE_CONTACT})
zfuse_gzip_text(${PROJECT_SOURCE_DIR}/resources/package/changelog changelog)
add_custom_target(zfuse_package_texts ALL DEPENDS ${zfuse_gzipped})

# The copyright file in the machine-readable format, built from LICENSE: the holder from
# its copyright line, the licence text from "Permission" on, each line indented by one
# space and empty lines written as " ." as the format wants.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE zfuse_license)
if(NOT zfuse_license MATCHES "Copyright \\(c\\) ([^\n]+)\n")
  message(FATAL_ERROR "LICENSE has no line \"Copyright (c) YEAR HOLDER\"")
endif()
set(ZFUSE_COPYRIGHT_HOLDER ${CMAKE_MATCH_1})
string(FIND "${zfuse_license}" "Permission is hereby granted" zfuse_license_start)
string(SUBSTRING "${zfuse_license}" ${zfuse_license_start} -1 zfuse_license)
string(STRIP "${zfuse_license}" zfuse_license)
string(REPLACE "\n\n" "\n.\n" zfuse_license "${zfuse_license}")
string(REPLACE "\n" "\n " ZFUSE_LICENSE_TEXT " ${zfuse_license}")
# The dashboard carries the MQTT client's browser bundle from npm: its paragraph is
# written at build time from the installed package's licence (dashboard/copyright.cmake).
if(ZFUSE_DASHBOARD)
  set(ZFUSE_BUNDLED_FILES "@ZFUSE_BUNDLED_FILES@")
  configure_file(${PROJECT_SOURCE_DIR}/resources/package/copyright.in
                 ${ZFUSE_PACKAGE_DIR}/copyright.own @ONLY)
  add_custom_command(OUTPUT ${ZFUSE_PACKAGE_DIR}/copyright
    COMMAND ${CMAKE_COMMAND} -DOWN=${ZFUSE_PACKAGE_DIR}/copyright.own
            -DOUT=${ZFUSE_PACKAGE_DIR}/copyright -DMODULES=${ZFUSE_NODE_MODULES}
            -P ${PROJECT_SOURCE_DIR}/dashboard/copyright.cmake
    DEPENDS ${ZFUSE_PACKAGE_DIR}/copyright.own ${ZFUSE_NPM_STAMP}
            ${PROJECT_SOURCE_DIR}/dashboard/copyright.cmake
    COMMENT "Adding the dashboard's npm package to the copyright file" VERBATIM)
  add_custom_target(zfuse_copyright ALL DEPENDS ${ZFUSE_PACKAGE_DIR}/copyright)
else()
  set(ZFUSE_BUNDLED_FILES "")
  configure_file(${PROJECT_SOURCE_DIR}/resources/package/copyright.in
                 ${ZFUSE_PACKAGE_DIR}/copyright @ONLY)
endif()

set(ZFUSE_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/zfuse)
install(FILES ${ZFUSE_PACKAGE_DIR}/copyright ${ZFUSE_PACKAGE_DIR}/changelog.gz
        DESTINATION ${ZFUSE_DOCDIR})
# An example unit that runs zfusectl as a service publishing to an MQTT broker.
install(FILES resources/systemd/zfusectl-mqtt.service DESTINATION ${ZFUSE_DOCDIR}/examples)
# The plant dashboard's broker configuration and access list, as examples.
if(ZFUSE_DASHBOARD)
  install(FILES resources/mosquitto/zfuse-dashboard.conf resources/mosquitto/zfuse.acl
          DESTINATION ${ZFUSE_DOCDIR}/examples)
endif()

# Prometheus alert rules for zfusectl status --metrics (docs/plant.md).
install(FILES resources/prometheus/zfuse-alerts.yml DESTINATION ${ZFUSE_DOCDIR}/examples)
install(FILES resources/desktop/zfuse.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES resources/icons/zfuse.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${ZFUSE_ICON_PNG} RENAME zfuse.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zfuse)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Zokara")
# Synopsis and description lines stay within 80 characters.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Service tool for the Zokara Electronic Fuse: live monitoring and configuration")
set(CPACK_PACKAGE_DESCRIPTION
    "Watches a Zokara Electronic Fuse on its serial service port (currents, input\n\
voltage, warnings and faults) and reads, edits, writes, saves and loads its\n\
configuration, in German or English. Includes zfusectl, the status and the port\n\
check on the command line for scripts and loggers (which also publishes to an\n\
MQTT broker), and the device simulator zfuse-sim.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${ZFUSE_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The programs go out stripped and without a -dbgsym package: the package is meant to be
# built from a Release tree (docs/development.md), which has no debugging information to
# keep, and a fault seen in the field is retraced on a RelWithDebInfo build of the version
# it names.
set(CPACK_STRIP_FILES ON)
# The Qt libraries (libqt6httpserver6 for zfusectl's metrics page among them) and
# libmosquitto1 come from the binaries' own needs (libqt6svg6
# among them, which also carries the SVG picture plugin). Named here is only what is loaded at run time and
# linked by nothing: the platform plugins. A package named in both lists would appear
# twice in Depends; tools/check-install.sh checks that each appears once.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# Qt's German translations give the file dialogs and Yes/No buttons German texts; the
# tool works without them (those texts stay English).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
# lintian finds no errors and no warnings on the package, so none is allowed in
# tools/check-install.sh. Its informational tags (hardening-no-bindnow,
# hardening-no-fortify-functions, binary-has-unneeded-section .comment) concern the
# compiler and linker flags of the whole build, not the packaging.
include(CPack)
