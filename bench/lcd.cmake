# Repaint cost of the LCD display control.
add_executable(lcd_bench ${CMAKE_CURRENT_LIST_DIR}/lcd/lcd_bench.cpp)
target_link_libraries(lcd_bench PRIVATE lcd benchmark::benchmark)
