# The Windows program driven under Wine as a user drives it (a private Wine
# prefix and X display per run). The Linux build's main window is the
# reference for the layout check; without it that check is reported skipped.
if(WIN32)
  set(DSG_LINUX_BIN_DIR "${PROJECT_SOURCE_DIR}/build/bin" CACHE PATH
      "bin folder of a Linux build, for the Windows user test's layout check")
  add_test(NAME windows_user
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/windows/user_test.sh --part main
                   ${CMAKE_BINARY_DIR}/bin ${DSG_LINUX_BIN_DIR})
  # Excel.exe missing: exit code 77, shown by CTest as skipped.
  add_test(NAME windows_user_excel
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/windows/user_test.sh --part excel
                   ${CMAKE_BINARY_DIR}/bin)
  set_tests_properties(windows_user windows_user_excel PROPERTIES
                       TIMEOUT 300 RUN_SERIAL TRUE SKIP_RETURN_CODE 77)
endif()
