# The program's Excel export into LibreOffice Calc behind the stand-in
# spreadsheet (skips where LibreOffice or its SDK is missing).
# LibreOffice Calc is a backend of the Linux stand-in only.
if(NOT WIN32 AND TARGET mainwindow AND TARGET excelexport_testsupport)
  set(_calc_sources ${CMAKE_CURRENT_LIST_DIR}/calc/tst_calc.cpp
                    ${PROJECT_SOURCE_DIR}/peers/excel/CalcOffice.h ${PROJECT_SOURCE_DIR}/peers/excel/CalcOffice.cpp)
  set(_calc_libs excelexport_testsupport mainwindow)
  if(DSG_HAVE_CALC)
    list(APPEND _calc_sources ${CMAKE_CURRENT_LIST_DIR}/calc/CalcProbe.h ${CMAKE_CURRENT_LIST_DIR}/calc/CalcProbe.cpp
                              ${PROJECT_SOURCE_DIR}/peers/excel/TypedInput.h ${PROJECT_SOURCE_DIR}/peers/excel/TypedInput.cpp)
    list(APPEND _calc_libs calc_uno)
  endif()
  dsg_add_test(tst_calc SOURCES ${_calc_sources} LIBS ${_calc_libs} TIMEOUT 600)
  target_include_directories(tst_calc PRIVATE ${PROJECT_SOURCE_DIR}/peers/excel ${CMAKE_CURRENT_LIST_DIR}/calc)
  if(DSG_HAVE_CALC)
    target_compile_definitions(tst_calc PRIVATE DSG_HAVE_CALC)
  endif()
  add_dependencies(tst_calc Excel)
endif()
