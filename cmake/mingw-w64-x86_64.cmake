# Cross-compiling for 64-bit Windows with mingw-w64 from Debian's
# g++-mingw-w64-x86-64-posix. The posix flavour of the compiler is the one
# whose standard library has std::thread. Programs are linked statically,
# so that the .exe files need no DLL beside them: only the system's own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MIO0_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MIO0_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MIO0_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MIO0_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MIO0_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests and the discovery of unit tests run the .exe files under Wine.
find_program(MIO0_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(MIO0_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${MIO0_WINE})
endif()
