# What `cmake --install` puts on a machine besides the programs (which their folders install),
# and the Debian package made of it with CPack (scripts/package).
include(GNUInstallDirs)

set(VELTRANIC_APP_ID com.veltranic.ServiceTool)
# udev reads rules from the distribution's folder only: install with the prefix /usr (as the
# package does) for the rule to take effect.
set(VELTRANIC_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING "Where the udev rule is installed, below the prefix")

install(FILES ${CMAKE_SOURCE_DIR}/resources/70-veltranic.rules DESTINATION ${VELTRANIC_UDEV_RULES_DIR})
install(FILES ${CMAKE_SOURCE_DIR}/resources/${VELTRANIC_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/resources/${VELTRANIC_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_SOURCE_DIR}/resources/${VELTRANIC_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The package's documentation: its copyright and a compressed changelog, as Debian wants them.
configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
find_program(GZIP_PROGRAM gzip)
if(GZIP_PROGRAM)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
                     COMMAND ${GZIP_PROGRAM} -9nc ${CMAKE_BINARY_DIR}/packaging/changelog > ${CMAKE_BINARY_DIR}/packaging/changelog.gz
                     DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog)
  add_custom_target(veltranic_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME veltranic)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Veltranic Instruments")
set(CPACK_PACKAGE_CONTACT "Veltranic Instruments <support@veltranic.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service tool for USB-attached VELTRANIC water samplers")
set(CPACK_PACKAGE_DESCRIPTION
    "The desktop program with which field operators and service technicians drive\n"
    "a VELTRANIC water sampler attached by USB: it lists the attached instruments,\n"
    "shows the live run state and the sample log, starts and stops runs and the\n"
    "schedule, edits the schedule and the clock, configures and tests motors and\n"
    "sensors, and re-flashes the firmware. veltranic-cli does the same from a\n"
    "terminal and from scripts. The package installs the udev rule that lets the\n"
    "user at the machine open the instruments.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://veltranic.example/service-tool")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The libraries come from the programs themselves; Qt's platform plugins are loaded at run time.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${CMAKE_SOURCE_DIR}/packaging/postinst;${CMAKE_SOURCE_DIR}/packaging/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
