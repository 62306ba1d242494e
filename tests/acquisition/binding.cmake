# Driver libraries that each lack one of the five functions; the binding
# must refuse every one of them by name.
set(DSG_DRIVER_FUNCTIONS OpenMeterPort ReadSalinity ReadCompensatedConductivity
    ReadUncompensatedConductivity ReadTemperature)
# Their ordinals in the maker's Windows library, in the same order.
set(DSG_DRIVER_ORDINALS 1 7 11 12 5)
set(DSG_BROKEN_DRIVERS)
foreach(fn IN LISTS DSG_DRIVER_FUNCTIONS)
  set(target trovport_broken_${fn})
  add_library(${target} SHARED ${CMAKE_CURRENT_LIST_DIR}/binding/broken_driver.cpp)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/peers/trovport/abi)
  target_compile_definitions(${target} PRIVATE OMIT_${fn})
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${target} PREFIX "" SUFFIX ".dll"
    CXX_VISIBILITY_PRESET hidden AUTOMOC OFF)
  if(WIN32)
    # Exported by ordinal alone, as the real one, with the one left out.
    set(def "LIBRARY ${target}.dll\nEXPORTS\n")
    foreach(other ordinal IN ZIP_LISTS DSG_DRIVER_FUNCTIONS DSG_DRIVER_ORDINALS)
      if(NOT other STREQUAL fn)
        string(APPEND def "  ${other}@12 @${ordinal} NONAME\n")
      endif()
    endforeach()
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${target}.def "${def}")
    target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}.def)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
  endif()
  list(APPEND DSG_BROKEN_DRIVERS ${target})
endforeach()
add_custom_target(trovport_broken)
add_dependencies(trovport_broken ${DSG_BROKEN_DRIVERS})

# What the system says of a handle, for every test that hands one out.
add_library(handlecheck STATIC ${CMAKE_CURRENT_LIST_DIR}/binding/HandleCheck.h)
if(WIN32)
  target_sources(handlecheck PRIVATE ${CMAKE_CURRENT_LIST_DIR}/binding/HandleCheck_win.cpp)
else()
  target_sources(handlecheck PRIVATE ${CMAKE_CURRENT_LIST_DIR}/binding/HandleCheck_unix.cpp)
endif()
target_include_directories(handlecheck PUBLIC ${CMAKE_CURRENT_LIST_DIR}/binding)
target_link_libraries(handlecheck PUBLIC platform)
set_target_properties(handlecheck PROPERTIES AUTOMOC OFF)

dsg_add_test(tst_apiimp
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/binding/tst_apiimp.cpp
  LIBS apiimp handlecheck)
# The test loads these from the bin folder at run time.
add_dependencies(tst_apiimp trovport trovport_broken)
if(WIN32)
  dsg_add_test(tst_apiimp_win
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/binding/tst_apiimp_win.cpp
    LIBS apiimp)
  add_dependencies(tst_apiimp_win trovport trovport_broken)
endif()
