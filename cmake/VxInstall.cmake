# Installation (cmake --install) and the Debian package (cpack -G DEB):
# the program, the vxraw tool, the desktop entry, the icon in the hicolor
# theme and the MIME type of our recordings.
include(GNUInstallDirs)

install(TARGETS VexadinView RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET vxraw)
  install(TARGETS vxraw RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

set(VX_DESKTOP_DIR ${VX_ROOT}/resources/desktop)
install(FILES ${VX_DESKTOP_DIR}/vexadinview.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${VX_DESKTOP_DIR}/vexadinview-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
  RENAME vexadinview.xml)
foreach(size 16x16 24x24 32x32 48x48 64x64 128x128 256x256)
  install(FILES ${VX_DESKTOP_DIR}/icons/${size}/vexadinview.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}/apps)
endforeach()
install(FILES ${VX_DESKTOP_DIR}/icons/scalable/vexadinview.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# The package's dependencies come from the libraries the programs link
# (dpkg-shlibdeps); the MIME, desktop and icon caches are refreshed by the
# triggers of the packages that own them.
set(CPACK_PACKAGE_NAME vexadinview)
set(CPACK_PACKAGE_VENDOR "Vexadin")
set(CPACK_PACKAGE_CONTACT "VexadinView developers <vexadinview@vexadin.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Viewer and recorder for event cameras")
set(CPACK_PACKAGE_DESCRIPTION
  "VexadinView shows the events of an event camera as images, records them to .raw files,\n"
  "plays recordings back, cuts them and exports ranges to .mp4 videos. The vxraw tool\n"
  "inspects, converts, cuts and exports recordings on the command line.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "shared-mime-info, desktop-file-utils, hicolor-icon-theme")
include(CPack)
