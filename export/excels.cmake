# The Excel DDE client component.
add_library(excels STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Excels.h
  ${CMAKE_CURRENT_LIST_DIR}/Excels.cpp
)
target_include_directories(excels PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(excels PUBLIC dde platform)
