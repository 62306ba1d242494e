# Cross-compiling for 32-bit Windows with Debian's MinGW-w64.
# The meter maker's driver is a 32-bit library, so the program must be too.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(DSG_MINGW_TRIPLET i686-w64-mingw32)

# The -posix thread model: GCC 12's win32 model has no std::thread or
# std::mutex, which Qt needs.
set(CMAKE_C_COMPILER   ${DSG_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${DSG_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER  ${DSG_MINGW_TRIPLET}-windres)

# Libraries and headers come only from the target's root; programs (moc,
# rcc, the host Qt tools) only from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${DSG_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
