# Driver libraries that each lack one of the five functions; the binding
# must refuse every one of them by name.
set(DSG_DRIVER_FUNCTIONS OpenMeterPort ReadSalinity ReadCompensatedConductivity
    ReadUncompensatedConductivity ReadTemperature)
set(DSG_BROKEN_DRIVERS)
foreach(fn IN LISTS DSG_DRIVER_FUNCTIONS)
  set(target trovport_broken_${fn})
  add_library(${target} SHARED ${CMAKE_CURRENT_LIST_DIR}/binding/broken_driver.cpp)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/peers/trovport/abi)
  target_compile_definitions(${target} PRIVATE OMIT_${fn})
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${target} PREFIX "" SUFFIX ".dll"
    CXX_VISIBILITY_PRESET hidden AUTOMOC OFF)
  list(APPEND DSG_BROKEN_DRIVERS ${target})
endforeach()
add_custom_target(trovport_broken)
add_dependencies(trovport_broken ${DSG_BROKEN_DRIVERS})

dsg_add_test(tst_apiimp
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/binding/tst_apiimp.cpp
  LIBS apiimp)
# The test loads these from the bin folder at run time.
add_dependencies(tst_apiimp trovport trovport_broken)
