# The binding of the meter driver library. The library itself is loaded at
# run time; only its binary contract (peers/trovport/abi) is compiled in.
add_library(apiimp STATIC
  ${CMAKE_CURRENT_LIST_DIR}/APIimp.h
  ${CMAKE_CURRENT_LIST_DIR}/APIimp_p.h
  ${CMAKE_CURRENT_LIST_DIR}/APIimp.cpp
  ${PROJECT_SOURCE_DIR}/peers/trovport/abi/trovport_abi.h
)
target_include_directories(apiimp PUBLIC
  ${CMAKE_CURRENT_LIST_DIR}
  ${PROJECT_SOURCE_DIR}/peers/trovport/abi)
target_link_libraries(apiimp PUBLIC platform Qt6::Core)
# Loading the library is the system's business.
if(WIN32)
  target_sources(apiimp PRIVATE ${CMAKE_CURRENT_LIST_DIR}/APIimp_win.cpp)
else()
  target_sources(apiimp PRIVATE ${CMAKE_CURRENT_LIST_DIR}/APIimp_unix.cpp)
endif()
