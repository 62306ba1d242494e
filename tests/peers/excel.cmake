# The stand-in spreadsheet and the local-socket conversation it serves on
# Linux (the Windows one is tried in tests/export/excels/tst_ddeml.cpp).
if(NOT WIN32)
find_package(PkgConfig REQUIRED)
pkg_check_modules(XLSXWRITER REQUIRED IMPORTED_TARGET xlsxwriter)
dsg_add_test(tst_excel_peer
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/excel/tst_excel_peer.cpp
          ${PROJECT_SOURCE_DIR}/peers/excel/Sheet.cpp
          ${PROJECT_SOURCE_DIR}/peers/excel/SheetXlsx_unix.cpp
          ${PROJECT_SOURCE_DIR}/peers/excel/TypedInput.cpp
          ${PROJECT_SOURCE_DIR}/peers/excel/MacroCommand.cpp
          ${PROJECT_SOURCE_DIR}/tests/export/excels/StandIn.cpp
          ${PROJECT_SOURCE_DIR}/tests/export/excels/StandIn_unix.cpp
  LIBS dde PkgConfig::XLSXWRITER)
target_include_directories(tst_excel_peer PRIVATE
  ${PROJECT_SOURCE_DIR}/peers/excel ${PROJECT_SOURCE_DIR}/tests/export/excels)
add_dependencies(tst_excel_peer Excel)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/calc.cmake)
