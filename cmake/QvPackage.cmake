# Install rules and CPack.
#   Linux:   cmake --build --preset linux --target package
#            -> qvdelay_<version>_amd64.deb (/usr/bin, a menu entry and its
#               icon) and qvdelay-<version>-linux-x86_64.tar.gz (the same tree)
#   Windows: cmake --build --preset windows --target package
#            -> qvdelay-<version>-win64.zip (both programs and the notes in
#               one folder)
include(GNUInstallDirs)

set(qv_docs ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/packaging/FONTS.txt)
if(WIN32)
  install(TARGETS qvdelay qvdelay_report RUNTIME DESTINATION .)
  install(FILES ${qv_docs} DESTINATION .)
else()
  install(TARGETS qvdelay qvdelay_report RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES packaging/qvdelay.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES packaging/qvdelay.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  install(FILES ${qv_docs} DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME qvdelay)
set(CPACK_PACKAGE_VENDOR "the qvdelay developers")
set(CPACK_PACKAGE_CONTACT "the qvdelay developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Can you feel N frames of input delay? A blind A/B test at 60 fps")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME qvdelay-${PROJECT_VERSION}-win64)
else()
  set(CPACK_GENERATOR "DEB;TGZ")
  set(CPACK_PACKAGE_FILE_NAME qvdelay-${PROJECT_VERSION}-linux-x86_64)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION games)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The .deb installs under /usr (the generator's default prefix), the
  # .tar.gz holds bin/ and share/ at its top.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Pick a delay of 2 to 8 frames, then take twenty blind A/B steps in which
a marker follows your keys with either that delay or one frame.
qvdelay_report reads the results and tells whether the delay was felt.")
endif()
include(CPack)
