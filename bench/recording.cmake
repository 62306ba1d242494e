# One acquisition tick on the real main window with a short and a long list,
# and the memory a million rows add.
add_executable(bench_recording ${CMAKE_CURRENT_LIST_DIR}/recording/bench_recording.cpp)
target_link_libraries(bench_recording PRIVATE mainwindow benchmark::benchmark)
