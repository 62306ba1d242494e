add_library(excelexport STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/ExcelExport.h
  ${CMAKE_CURRENT_SOURCE_DIR}/ExcelExport.cpp
)
target_include_directories(excelexport PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(excelexport PUBLIC excels textexport platform Qt6::Widgets)
