# The program entry, the main window and the settings load and Setup command
# it runs, against an in-process meter driver and the stand-in library.
dsg_add_test(tst_main
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/main/tst_main.cpp
          ${CMAKE_CURRENT_LIST_DIR}/main/FakeDriver.h
  LIBS mainwindow handlecheck)
target_include_directories(tst_main PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/main ${PROJECT_SOURCE_DIR}/tests/settings)
# Window placement under a window manager on two loaded cores: it loads the
# cores itself, so it runs alone, slowing no other test.
# It needs an X window manager, so it is the Linux build's.
if(NOT WIN32)
  add_test(NAME tst_main_placement COMMAND tst_main windowsCentredUnderOpenbox)
  get_test_property(tst_main ENVIRONMENT _main_env)
  set_tests_properties(tst_main_placement PROPERTIES
    ENVIRONMENT "${_main_env};DSG_PLACEMENT_UNDER_LOAD=1" RUN_SERIAL TRUE TIMEOUT 300)
endif()
# The entry test copies these out of the bin folder into its working folder.
add_dependencies(tst_main trovport)
if(TARGET trovport_broken)
  add_dependencies(tst_main trovport_broken)
else()
  # Without the binding tests' incomplete drivers, build one of our own.
  add_library(trovport_broken_ReadTemperature SHARED
    ${CMAKE_CURRENT_LIST_DIR}/main/four_function_driver.cpp)
  target_include_directories(trovport_broken_ReadTemperature PRIVATE
    ${PROJECT_SOURCE_DIR}/peers/trovport/abi)
  set_target_properties(trovport_broken_ReadTemperature PROPERTIES
    PREFIX "" SUFFIX ".dll" CXX_VISIBILITY_PRESET hidden AUTOMOC OFF)
  add_dependencies(tst_main trovport_broken_ReadTemperature)
endif()
