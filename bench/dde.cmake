# Excel client throughput against the raw frame transport.
add_executable(bench_dde ${CMAKE_CURRENT_LIST_DIR}/dde/bench_dde.cpp)
target_link_libraries(bench_dde PRIVATE excels dde benchmark::benchmark)
add_dependencies(bench_dde Excel)
