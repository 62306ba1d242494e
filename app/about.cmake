# The About box and its scrolling credits panel.
add_library(about STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Fabout.h ${CMAKE_CURRENT_LIST_DIR}/Fabout.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SecretPanel.h ${CMAKE_CURRENT_LIST_DIR}/SecretPanel.cpp
)
target_include_directories(about PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(about PUBLIC platform Qt6::Widgets)
