# Ending the program: closing the main window and the system's termination
# requests, with the program as a process of its own (the test runs itself
# as the program).
set(_quit ${CMAKE_CURRENT_LIST_DIR}/quit)
if(WIN32)
  set(_termination ${_quit}/Termination_win.cpp)
else()
  set(_termination ${_quit}/Termination_unix.cpp)
endif()
dsg_add_test(tst_quit
  SOURCES ${_quit}/tst_quit.cpp ${_quit}/Termination.h ${_termination}
  LIBS mainwindow excel_standin)
target_include_directories(tst_quit PRIVATE ${PROJECT_SOURCE_DIR}/tests/settings)
add_dependencies(tst_quit trovport Excel)
