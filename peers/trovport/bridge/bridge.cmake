# The bridge to the maker's 32-bit trovport.dll under Wine, for the Linux
# build: its Linux half goes into the stand-in library; its Windows half,
# trovport-host.exe, is built with the MinGW compiler when there is one, and
# lands beside the library, where the bridge looks for it.
if(WIN32)
  # The program loads the maker's library itself there.
  target_sources(trovport_core PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/WindowsBridge.h ${CMAKE_CURRENT_LIST_DIR}/WindowsBridge_win.cpp)
  return()
endif()

target_sources(trovport_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/BridgeProtocol.h
  ${CMAKE_CURRENT_LIST_DIR}/WinePrefix.h ${CMAKE_CURRENT_LIST_DIR}/WinePrefix.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WineHost.h ${CMAKE_CURRENT_LIST_DIR}/WineHost.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WindowsBridge.h ${CMAKE_CURRENT_LIST_DIR}/WindowsBridge_unix.cpp)
target_include_directories(trovport_core PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/abi)
find_package(Threads REQUIRED)
target_link_libraries(trovport_core PUBLIC Threads::Threads ${CMAKE_DL_LIBS})

find_program(DSG_MINGW_CC NAMES i686-w64-mingw32-gcc-posix i686-w64-mingw32-gcc
             DOC "MinGW-w64 C compiler for 32-bit Windows (the bridge's host and test driver)")

# dsg_mingw_binary(<target> OUTPUT <file> SOURCES <c files and .def> [FLAGS ...])
# builds a 32-bit Windows program or library with that compiler. Static
# runtime, so the file needs nothing but Wine's own system libraries; no
# time stamp, so the same sources give the same bytes.
function(dsg_mingw_binary target)
  cmake_parse_arguments(M "" "OUTPUT" "SOURCES;FLAGS" ${ARGN})
  add_custom_command(OUTPUT ${M_OUTPUT}
    COMMAND ${DSG_MINGW_CC} -std=c11 -O2 -Wall -Wextra -static -s -Wl,--no-insert-timestamp ${M_FLAGS}
            -o ${M_OUTPUT} ${M_SOURCES}
    DEPENDS ${M_SOURCES} ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/BridgeProtocol.h
    COMMENT "MinGW: ${M_OUTPUT}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${M_OUTPUT})
endfunction()

if(DSG_MINGW_CC)
  set(DSG_TROVPORT_HOST ${CMAKE_BINARY_DIR}/bin/trovport-host.exe CACHE INTERNAL "")
  dsg_mingw_binary(trovport_host
    OUTPUT ${DSG_TROVPORT_HOST}
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/host/trovport-host.c)
  add_dependencies(trovport trovport_host)
else()
  set(DSG_TROVPORT_HOST "" CACHE INTERNAL "")
  message(STATUS "No MinGW-w64 compiler for 32-bit Windows: the bridge's helper "
                 "trovport-host.exe is not built (tools/install-deps.sh installs it)")
endif()
