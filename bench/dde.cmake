# Excel client throughput against the raw frame transport.
add_executable(bench_dde ${CMAKE_CURRENT_LIST_DIR}/dde/bench_dde.cpp)
target_link_libraries(bench_dde PRIVATE excels dde benchmark::benchmark)
add_dependencies(bench_dde Excel)

# What the forced wait for "Ready" costs in CPU per second of waiting.
add_executable(bench_dde_wait ${CMAKE_CURRENT_LIST_DIR}/dde/bench_dde_wait.cpp)
target_link_libraries(bench_dde_wait PRIVATE excels dde)
add_dependencies(bench_dde_wait Excel)
