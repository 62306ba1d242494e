# The Excel export, against the stand-in spreadsheet and a recording
# conversation, on its own and from the main window.
set(_xx ${CMAKE_CURRENT_LIST_DIR}/excelexport)
add_library(excelexport_testsupport STATIC ${_xx}/ExportTestSupport.h ${_xx}/ExportTestSupport.cpp)
target_include_directories(excelexport_testsupport PUBLIC ${_xx})
target_link_libraries(excelexport_testsupport PUBLIC testsupport excel_standin excelexport dde reading Qt6::Network)
if(WIN32)
  target_sources(excelexport_testsupport PRIVATE ${_xx}/ExportTestSupport_win.cpp)
else()
  target_sources(excelexport_testsupport PRIVATE ${_xx}/ExportTestSupport_unix.cpp)
endif()

dsg_add_test(tst_excelexport
  SOURCES ${_xx}/tst_excelexport.cpp
  LIBS excelexport_testsupport excelexport)
add_dependencies(tst_excelexport Excel)

if(NOT WIN32)
  # Servers that break the local socket's handshake.
  dsg_add_test(tst_excelexport_unix
    SOURCES ${_xx}/tst_excelexport_unix.cpp ${CMAKE_CURRENT_LIST_DIR}/excels/HostileServer.h
    LIBS excelexport_testsupport excelexport)
endif()

if(TARGET mainwindow)
  dsg_add_test(tst_excelexport_main
    SOURCES ${_xx}/tst_excelexport_main.cpp
    LIBS excelexport_testsupport mainwindow)
  add_dependencies(tst_excelexport_main Excel)
endif()
