dsg_add_test(tst_about
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/about/tst_about.cpp
  LIBS about)
