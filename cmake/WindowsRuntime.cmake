# Cross-built for Windows: the programs run under Wine here, so CTest starts
# every test through the Wine runner, and the DLLs a Windows program needs
# beside it (Qt, its platform plugins, the MinGW runtime) are put into the
# one output folder, where the programs, the stand-ins and the tests live.
if(NOT WIN32)
  return()
endif()

if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/tools/windows/wine-run.sh)
endif()

set(_dsg_bin ${CMAKE_BINARY_DIR}/bin)
set(DSG_WINDOWS_RUNTIME_DLLS "")
foreach(_module Core Gui Widgets Network Test)
  get_target_property(_dll Qt6::${_module} IMPORTED_LOCATION_RELEASE)
  if(NOT _dll)
    get_target_property(_dll Qt6::${_module} IMPORTED_LOCATION)
  endif()
  list(APPEND DSG_WINDOWS_RUNTIME_DLLS ${_dll})
endforeach()
foreach(_lib libstdc++-6.dll libgcc_s_dw2-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${_lib}
                  OUTPUT_VARIABLE _path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${_path}" OR NOT EXISTS "${_path}")
    message(FATAL_ERROR "The MinGW runtime ${_lib} was not found (${_path})")
  endif()
  get_filename_component(_path "${_path}" REALPATH)
  list(APPEND DSG_WINDOWS_RUNTIME_DLLS ${_path})
endforeach()

# The plugins sit in the Qt prefix's plugins folder.
get_filename_component(_qt_prefix "${Qt6_DIR}/../../.." ABSOLUTE)
set(DSG_WINDOWS_PLATFORM_PLUGINS
  ${_qt_prefix}/plugins/platforms/qwindows.dll
  ${_qt_prefix}/plugins/platforms/qoffscreen.dll)
foreach(_f IN LISTS DSG_WINDOWS_RUNTIME_DLLS DSG_WINDOWS_PLATFORM_PLUGINS)
  if(NOT EXISTS "${_f}")
    message(FATAL_ERROR "Windows runtime file missing: ${_f}")
  endif()
endforeach()

# Copied at build time, so a rebuilt Qt or a cleaned output folder is
# brought up to date by the next build.
add_custom_target(windows_runtime ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_dsg_bin}/platforms
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${DSG_WINDOWS_RUNTIME_DLLS} ${_dsg_bin}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${DSG_WINDOWS_PLATFORM_PLUGINS} ${_dsg_bin}/platforms
  COMMENT "Windows runtime DLLs into ${_dsg_bin}"
  VERBATIM)
