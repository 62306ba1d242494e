# The Windows installer, built from this tree's bin/ by makensis, then
# installed, started and uninstalled under Wine in a private prefix, per user
# and for all users. It packs the program and the stand-in driver, so both
# must be built first.
if(WIN32)
  add_test(NAME packaging_windows_installer
    COMMAND ${PROJECT_SOURCE_DIR}/tests/packaging/windows/installer_test.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(packaging_windows_installer PROPERTIES TIMEOUT 600)
endif()
