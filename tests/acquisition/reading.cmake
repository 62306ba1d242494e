# Reading texts and the record list model.
dsg_add_test(tst_reading
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/reading/tst_reading.cpp
          ${CMAKE_CURRENT_LIST_DIR}/reading/ExactDecimal.h
          ${CMAKE_CURRENT_LIST_DIR}/reading/ExactDecimal.cpp
  LIBS reading)
