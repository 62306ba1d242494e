# The text export's writer against one plain write of the same bytes.
add_executable(bench_textexport ${CMAKE_CURRENT_LIST_DIR}/textexport/bench_textexport.cpp)
target_link_libraries(bench_textexport PRIVATE textexport benchmark::benchmark Qt6::Widgets)
