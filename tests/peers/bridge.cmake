# The bridge to the maker's driver under Wine: trovport.ini's forms and the
# library check always; with the MinGW compiler, a 32-bit test driver that
# exports by ordinal only, and the whole road through Wine into the program.
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return() # the bridge is the Linux build's
endif()
dsg_add_test(tst_bridge
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bridge/tst_bridge.cpp
  LIBS mainwindow trovport_core
  TIMEOUT 900)
target_include_directories(tst_bridge PRIVATE
  ${PROJECT_SOURCE_DIR}/peers/trovport/bridge ${PROJECT_SOURCE_DIR}/tests/settings)
add_dependencies(tst_bridge trovport)

if(DSG_MINGW_CC)
  set(driver ${CMAKE_CURRENT_LIST_DIR}/bridge/testdriver)
  dsg_mingw_binary(trovport_testdriver
    OUTPUT ${CMAKE_BINARY_DIR}/bin/testdriver32.dll
    SOURCES ${driver}/testdriver.c ${driver}/testdriver.def
    FLAGS -shared -Wl,--kill-at)
  dsg_mingw_binary(trovport_testdriver_no11
    OUTPUT ${CMAKE_BINARY_DIR}/bin/testdriver32_no11.dll
    SOURCES ${driver}/testdriver.c ${driver}/testdriver_no11.def
    FLAGS -shared -Wl,--kill-at -DTESTDRIVER_WITHOUT_ORDINAL_11)
  add_dependencies(tst_bridge trovport_testdriver trovport_testdriver_no11)
endif()
