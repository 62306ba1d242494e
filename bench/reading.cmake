# Record list appends and memory, reading texts.
add_executable(bench_reading ${CMAKE_CURRENT_LIST_DIR}/reading/bench_reading.cpp)
target_link_libraries(bench_reading PRIVATE reading benchmark::benchmark)
