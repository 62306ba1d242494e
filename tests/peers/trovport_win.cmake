# The stand-in driver built for Windows, loaded by ordinal in a plain Windows
# program that carries its own runtime.
if(NOT WIN32)
  return()
endif()
add_executable(trovport_dll_check ${PROJECT_SOURCE_DIR}/tests/peers/trovport_win/trovport_dll_check.cpp)
target_include_directories(trovport_dll_check PRIVATE ${PROJECT_SOURCE_DIR}/peers/trovport/abi)
set_target_properties(trovport_dll_check PROPERTIES AUTOMOC OFF)
target_link_options(trovport_dll_check PRIVATE -static -static-libgcc -static-libstdc++)
add_dependencies(trovport_dll_check trovport)
add_test(NAME trovport_dll_check COMMAND trovport_dll_check trovport.dll
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set_tests_properties(trovport_dll_check PROPERTIES TIMEOUT 180)
