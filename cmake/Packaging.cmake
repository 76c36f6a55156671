# Installing and packaging: the three programs in bin, the data they ship in
# share/bifuel-studio (found from the programs as ../share/bifuel-studio, so any prefix
# works), the desktop entry, icons, metainfo and man pages, and a Debian package.
include(GNUInstallDirs)

set(BIFUEL_DATA_NAME bifuel-studio)
string(REPLACE "." "-" BIFUEL_RELEASE_DATE_ISO "${BIFUEL_RELEASE_DATE}")

install(TARGETS bifuel-studio bifuel-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET bifuel-sim)
  install(TARGETS bifuel-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(FILES ${CMAKE_SOURCE_DIR}/data/bifuel-studio.dat
        DESTINATION ${CMAKE_INSTALL_DATADIR}/${BIFUEL_DATA_NAME})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/Language/
        DESTINATION ${CMAKE_INSTALL_DATADIR}/${BIFUEL_DATA_NAME}/Language
        FILES_MATCHING PATTERN "*.lng")

install(FILES ${CMAKE_SOURCE_DIR}/data/desktop/bifuel-studio.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/data/desktop/bifuel-studio.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 24 32 48 64 128 256)
  install(FILES ${CMAKE_SOURCE_DIR}/data/desktop/icons/${size}x${size}/bifuel-studio.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

set(BIFUEL_GENERATED_DATA ${CMAKE_BINARY_DIR}/generated-data)
configure_file(${CMAKE_SOURCE_DIR}/data/desktop/io.github.bifuel.Studio.metainfo.xml.in
               ${BIFUEL_GENERATED_DATA}/io.github.bifuel.Studio.metainfo.xml @ONLY)
install(FILES ${BIFUEL_GENERATED_DATA}/io.github.bifuel.Studio.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(page bifuel-cli.1 bifuel-sim.1)
  configure_file(${CMAKE_SOURCE_DIR}/data/man/${page} ${BIFUEL_GENERATED_DATA}/${page} @ONLY)
  install(FILES ${BIFUEL_GENERATED_DATA}/${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/data/README.package
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${BIFUEL_DATA_NAME} RENAME README)

# The Debian package: its library dependencies come from the binaries (dpkg-shlibdeps);
# Qt's platform plugins are loaded at run time, so no binary names them.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME bifuel-studio)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Bifuel Studio developers")
set(CPACK_PACKAGE_CONTACT "Bifuel Studio developers <dev@bifuel-studio.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "set up, diagnose and calibrate a sequential LPG/CNG injection controller")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Bifuel Studio connects to a car's gas injection controller over a serial line:\n\
identification, live data and recording, fuel mode, errors, configuration, the\n\
petrol-to-gas calibration diagram, the RPM correction map and automatic calibration.\n\
Includes bifuel-cli for the command line and bifuel-sim, a simulated controller.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
