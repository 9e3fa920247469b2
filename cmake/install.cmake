# Installation and the Debian package: the tool and the simulator, a desktop entry and
# the application icon (vector, plus a 32 x 32 picture rendered from it at build time).
include(GNUInstallDirs)

add_executable(svg2png tools/svg2png.cpp)
target_link_libraries(svg2png PRIVATE Qt6::Gui Qt6::Svg)
set(ZFUSE_ICON_PNG ${CMAKE_CURRENT_BINARY_DIR}/zfuse-32.png)
add_custom_command(OUTPUT ${ZFUSE_ICON_PNG}
  COMMAND svg2png ${PROJECT_SOURCE_DIR}/resources/icons/zfuse.svg ${ZFUSE_ICON_PNG} 32
  DEPENDS svg2png ${PROJECT_SOURCE_DIR}/resources/icons/zfuse.svg
  COMMENT "Rendering the 32 x 32 application icon")
add_custom_target(zfuse_icon ALL DEPENDS ${ZFUSE_ICON_PNG})

install(TARGETS zfuse zfuse-sim zfusectl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES resources/desktop/zfuse.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES resources/icons/zfuse.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${ZFUSE_ICON_PNG} RENAME zfuse.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zfuse)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Zokara")
set(CPACK_PACKAGE_CONTACT "Zokara service <service@zokara.example.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Service tool for the Zokara Electronic Fuse: live monitoring and configuration")
set(CPACK_PACKAGE_DESCRIPTION
    "Watches a Zokara Electronic Fuse on its serial service port (currents, input voltage,\n\
warnings and faults), reads, edits, writes, saves and loads its configuration, with\n\
German and English texts. Includes the device simulator zfuse-sim.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# The Qt libraries come from the binaries' own needs; the platform plugins and the
# picture plugins are loaded at run time and named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6, qt6-qpa-plugins")
include(CPack)
