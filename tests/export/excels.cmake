# The Excel DDE client: against a recording conversation, and live against
# the stand-in spreadsheet.
dsg_add_test(tst_excels
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/excels/tst_excels.cpp ${CMAKE_CURRENT_LIST_DIR}/excels/FakeDdeConv.h
  LIBS excels)
# The stand-in spreadsheet as a child process, shared with the export tests.
add_library(excel_standin STATIC
  ${CMAKE_CURRENT_LIST_DIR}/excels/StandIn.h ${CMAKE_CURRENT_LIST_DIR}/excels/StandIn.cpp)
target_include_directories(excel_standin PUBLIC ${CMAKE_CURRENT_LIST_DIR}/excels)
target_link_libraries(excel_standin PUBLIC testsupport dde Qt6::Network)
add_dependencies(excel_standin Excel)

dsg_add_test(tst_excels_live
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/excels/tst_excels_live.cpp
  LIBS excels excel_standin)
