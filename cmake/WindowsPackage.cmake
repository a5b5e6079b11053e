# The Windows release: one zip, KORVAVorAdf-<version>-win32.zip, holding one folder with
# the instrument, its pictures, font and icon, a sample configuration, the user guide, the
# licence notes, and under tools/ the simulator stand-in, korva-bridge and FlightGear's
# protocol file for it.
install(TARGETS KORVAVorAdf RUNTIME DESTINATION .)
set(_run_dir ${CMAKE_BINARY_DIR}/run)
install(FILES
  ${_run_dir}/VOR_ADF.txr ${_run_dir}/VOR_ADF_ind_mask.txr ${_run_dir}/VOR_ADF_ind.txr
  ${_run_dir}/VOR1_mask.txr ${_run_dir}/VOR1_ago.txr ${_run_dir}/VOR2_mask.txr ${_run_dir}/VOR2_ago.txr
  ${_run_dir}/setpos.txr ${_run_dir}/setsize.txr ${_run_dir}/VOR1ADF.txr ${_run_dir}/VOR2ADF.txr
  ${_run_dir}/font.bmp ${_run_dir}/plane2.ico
  DESTINATION .)
install(FILES packaging/KORVAVorAdf.INI packaging/LICENCES.txt docs/user-guide.md DESTINATION .)
install(TARGETS simstandin korva-bridge RUNTIME DESTINATION tools)
install(FILES tools/bridge/korva.xml DESTINATION tools)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME KORVAVorAdf)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME KORVAVorAdf-${PROJECT_VERSION}-win32)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "VOR/ADF bearing indicator for desktop flight simulators")
include(CPack)
