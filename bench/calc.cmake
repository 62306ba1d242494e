# The Excel export of 10,000 rows into LibreOffice Calc beside the grid.
if(DSG_HAVE_CALC)
  add_executable(bench_calc ${CMAKE_CURRENT_LIST_DIR}/calc/bench_calc.cpp)
  target_link_libraries(bench_calc PRIVATE excelexport excels reading dde Qt6::Widgets Qt6::Network)
  add_dependencies(bench_calc Excel)
endif()
