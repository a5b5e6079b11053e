# The Debian package: the instrument in /usr/lib/korva-voradf, its launcher in /usr/bin, the
# pictures in /usr/share/korva-voradf/pictures, a desktop entry and its icon, the user guide.
# Built by `cpack -G DEB` in the build folder (scripts/package-deb.sh).
include(GNUInstallDirs)

install(TARGETS KORVAVorAdf RUNTIME DESTINATION lib/korva-voradf)
install(PROGRAMS packaging/linux/korva-voradf DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES packaging/linux/korva-voradf.desktop DESTINATION share/applications)

set(_pictures)
foreach(_name ${KORVA_PICTURE_FILES})
  list(APPEND _pictures ${CMAKE_BINARY_DIR}/run/${_name})
endforeach()
install(FILES ${_pictures} DESTINATION share/korva-voradf/pictures)

# The desktop icon: the instrument itself, drawn by the picture generator.
set(_icon ${CMAKE_BINARY_DIR}/korva-voradf.png)
add_custom_command(
  OUTPUT ${_icon}
  COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
          $<TARGET_FILE:picturegen> --preview ${_icon} 128 128 30 45 200
  DEPENDS picturegen
  VERBATIM)
add_custom_target(desktop_icon ALL DEPENDS ${_icon})
install(FILES ${_icon} DESTINATION share/icons/hicolor/128x128/apps)

install(FILES README.md docs/user-guide.md docs/data-server.md docs/link-transport.md
        DESTINATION share/doc/korva-voradf)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korva-voradf)
set(CPACK_PACKAGE_VENDOR "KORVA")
set(CPACK_PACKAGE_CONTACT "KORVA VOR/ADF developers <korva@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "VOR/ADF bearing indicator for desktop flight simulators")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "One OpenGL window shows the two-needle VOR/ADF bearing indicator (radio magnetic\n indicator) of a twin-turboprop airliner and follows the simulated aircraft, fed by\n korva-bridge from X-Plane or FlightGear, or by a data server over TCP.")
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libgl1-mesa-dri")
set(CPACK_DEBIAN_FILE_NAME "KORVAVorAdf_${PROJECT_VERSION}_${CMAKE_SYSTEM_PROCESSOR}.deb")
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(CPACK_DEBIAN_FILE_NAME "KORVAVorAdf_${PROJECT_VERSION}_amd64.deb")
endif()
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
