# The Excel export's rate through the DDE management library against a plain
# loop of asynchronous executes (Windows only; a plain program: Google
# Benchmark has no MinGW build). Run it under Wine:
#   tools/windows/wine-run.sh build-win/bin/bench_ddeml.exe [cells] [rounds]
if(WIN32)
  add_executable(bench_ddeml ${CMAKE_CURRENT_LIST_DIR}/bench_ddeml.cpp)
  target_link_libraries(bench_ddeml PRIVATE excels dde user32)
  add_dependencies(bench_ddeml Excel)
endif()
