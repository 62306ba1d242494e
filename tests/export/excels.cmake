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

# Through the system's own conversation, on both systems.
dsg_add_test(tst_excels_live
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/excels/tst_excels_live.cpp
  LIBS excels excel_standin)

if(WIN32)
  target_sources(excel_standin PRIVATE ${CMAKE_CURRENT_LIST_DIR}/excels/StandIn_win.cpp)
  target_link_libraries(excel_standin PUBLIC user32)
  # The conversation through the real DDE management library.
  dsg_add_test(tst_ddeml
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/excels/tst_ddeml.cpp
    LIBS excel_standin)
else()
  target_sources(excel_standin PRIVATE ${CMAKE_CURRENT_LIST_DIR}/excels/StandIn_unix.cpp)
  # Over the local socket itself (its hostile servers, its ownership
  # checks), and the workbooks only the Linux stand-in saves.
  dsg_add_test(tst_excels_live_unix
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/excels/tst_excels_live_unix.cpp ${CMAKE_CURRENT_LIST_DIR}/excels/HostileServer.h
    LIBS excels excel_standin)
endif()

