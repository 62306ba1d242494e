# Ending the program: closing the main window and termination signals, with
# the program as a process of its own (the test runs itself as the program).
# Linux only: it sends POSIX signals and drives the Linux stand-in
# spreadsheet.
if(WIN32)
  return()
endif()
dsg_add_test(tst_quit
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/quit/tst_quit.cpp
  LIBS mainwindow excel_standin)
target_include_directories(tst_quit PRIVATE ${PROJECT_SOURCE_DIR}/tests/settings)
add_dependencies(tst_quit trovport Excel)
