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
# The metainfo's release and the changelog's entry carry the project's version and release date.
configure_file(${CMAKE_SOURCE_DIR}/resources/${VELTRANIC_APP_ID}.metainfo.xml.in
               ${CMAKE_BINARY_DIR}/packaging/${VELTRANIC_APP_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/${VELTRANIC_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The release date as the changelog writes it ("Tue, 08 Dec 2026 12:00:00 +0000"); the weekday by
# Sakamoto's method.
string(REGEX MATCH "^([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])$" date_ok "${VELTRANIC_RELEASE_DATE}")
if(NOT date_ok)
  message(FATAL_ERROR "VELTRANIC_RELEASE_DATE must read YYYY-MM-DD, not ${VELTRANIC_RELEASE_DATE}")
endif()
set(release_year ${CMAKE_MATCH_1})
math(EXPR release_month "${CMAKE_MATCH_2} + 0")
math(EXPR release_day "${CMAKE_MATCH_3} + 0")
set(month_offsets 0 3 2 5 0 3 5 1 4 6 2 4)
math(EXPR month_index "${release_month} - 1")
list(GET month_offsets ${month_index} month_offset)
set(y ${release_year})
if(release_month LESS 3)
  math(EXPR y "${y} - 1")
endif()
math(EXPR weekday "(${y} + ${y} / 4 - ${y} / 100 + ${y} / 400 + ${month_offset} + ${release_day}) % 7")
set(weekday_names Sun Mon Tue Wed Thu Fri Sat)
set(month_names Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(GET weekday_names ${weekday} weekday_name)
list(GET month_names ${month_index} month_name)
set(VELTRANIC_RELEASE_DATE_RFC2822 "${weekday_name}, ${CMAKE_MATCH_3} ${month_name} ${release_year} 12:00:00 +0000")

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
# The layout of every JSON document of veltranic-cli.
install(FILES ${CMAKE_SOURCE_DIR}/docs/json.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Manual pages made from the programs' own --help and --version by help2man (which is why the GUI
# answers those without a display), and the command line's bash completion.
find_program(HELP2MAN_PROGRAM help2man)
if(HELP2MAN_PROGRAM AND GZIP_PROGRAM AND NOT CMAKE_CROSSCOMPILING)
  set(manpages)
  set(summary_veltranic "service tool for USB-attached VELTRANIC water samplers")
  set(summary_veltranic-cli "the VELTRANIC water sampler from a terminal and from scripts")
  foreach(program veltranic veltranic-cli)
    set(page ${CMAKE_BINARY_DIR}/packaging/${program}.1)
    add_custom_command(OUTPUT ${page}.gz
                       COMMAND ${HELP2MAN_PROGRAM} --no-info --section=1 "--source=Veltranic Instruments"
                               "--name=${summary_${program}}" --include=${CMAKE_SOURCE_DIR}/packaging/${program}.h2m
                               --output=${page} $<TARGET_FILE:${program}>
                       COMMAND ${GZIP_PROGRAM} -9nf ${page}
                       DEPENDS ${program} ${CMAKE_SOURCE_DIR}/packaging/${program}.h2m
                       COMMENT "Manual page of ${program}" VERBATIM)
    list(APPEND manpages ${page}.gz)
  endforeach()
  add_custom_target(veltranic_manpages ALL DEPENDS ${manpages})
  install(FILES ${manpages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/packaging/veltranic-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME veltranic-cli)

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
    "sensors, and re-flashes the firmware. veltranic-cli runs the instrument from a\n"
    "terminal or a script: status and logs, runs and the schedule, the clock, every\n"
    "stored setting, a backup and restore of all of them, and firmware upgrades,\n"
    "with JSON output. The package installs the udev rule that lets the user at the\n"
    "machine open the instruments.")
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
# Wayland sessions run the tool natively with Qt's Wayland platform plugin.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev, qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${CMAKE_SOURCE_DIR}/packaging/postinst;${CMAKE_SOURCE_DIR}/packaging/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
