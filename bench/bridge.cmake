# A tick through the bridge to the maker's driver under Wine against one on
# the stand-in, and the start of the bridge's helper.
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return() # the bridge is the Linux build's
endif()
add_executable(bench_bridge ${CMAKE_CURRENT_LIST_DIR}/bridge/bench_bridge.cpp)
target_link_libraries(bench_bridge PRIVATE apiimp benchmark::benchmark)
add_dependencies(bench_bridge trovport)
if(TARGET trovport_testdriver)
  add_dependencies(bench_bridge trovport_testdriver)
endif()
