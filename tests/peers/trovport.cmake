# The stand-in meter driver: its parsers and sea-water model directly, and
# the built library through its exported functions. Linux only: the cases
# use descriptors, fork and resource limits; on Windows the built DLL is
# checked by ordinal (trovport_dll_check) and through the program's binding
# (tst_apiimp, tst_apiimp_win).
if(WIN32)
  return()
endif()
dsg_add_test(tst_trovport
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/trovport/tst_trovport.cpp
  LIBS trovport_core)
target_include_directories(tst_trovport PRIVATE ${PROJECT_SOURCE_DIR}/peers/trovport/abi)
add_dependencies(tst_trovport trovport)
