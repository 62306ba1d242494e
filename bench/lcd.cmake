# Repaint cost of the LCD display control.
add_executable(bench_lcd ${CMAKE_CURRENT_LIST_DIR}/lcd/lcd_bench.cpp)
target_link_libraries(bench_lcd PRIVATE lcd benchmark::benchmark)
