# The Excel DDE client: against a recording conversation, and live against
# the stand-in spreadsheet.
dsg_add_test(tst_excels
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/excels/tst_excels.cpp ${CMAKE_CURRENT_LIST_DIR}/excels/FakeDdeConv.h
  LIBS excels)
if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/excels/tst_excels_live.cpp)
  dsg_add_test(tst_excels_live
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/excels/tst_excels_live.cpp
            ${CMAKE_CURRENT_LIST_DIR}/excels/StandIn.h ${CMAKE_CURRENT_LIST_DIR}/excels/StandIn.cpp
    LIBS excels)
  add_dependencies(tst_excels_live Excel)
endif()
