# Reading texts (numbers, meter error codes, time of day) and the record
# list model that holds one row of them per acquisition tick.
add_library(reading STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ReadingText.h
  ${CMAKE_CURRENT_LIST_DIR}/ReadingText.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RecordList.h
  ${CMAKE_CURRENT_LIST_DIR}/RecordList.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RecordRows.h
)
target_include_directories(reading PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(reading PUBLIC platform Qt6::Core Qt6::Gui)
