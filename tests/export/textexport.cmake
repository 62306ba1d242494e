dsg_add_test(tst_textexport
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/textexport/tst_textexport.cpp
  LIBS textexport)
