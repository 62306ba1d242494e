# The export choice dialog, the export progress window and the text export.
add_library(textexport STATIC
  ${CMAKE_CURRENT_LIST_DIR}/fexpsel.h ${CMAKE_CURRENT_LIST_DIR}/fexpsel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Fpross.h ${CMAKE_CURRENT_LIST_DIR}/Fpross.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TextExport.h ${CMAKE_CURRENT_LIST_DIR}/TextExport.cpp
  ${PROJECT_SOURCE_DIR}/acquisition/RecordRows.h
)
target_include_directories(textexport PUBLIC
  ${CMAKE_CURRENT_LIST_DIR}
  ${PROJECT_SOURCE_DIR}/acquisition
)
target_link_libraries(textexport PUBLIC platform Qt6::Widgets)
