# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix threads flavour, which is the one
# whose libstdc++ has std::thread and friends). The result is one static exe that imports only
# system DLLs, so it runs without any MinGW runtime beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUELBY_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUELBY_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUELBY_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QUELBY_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${QUELBY_MINGW_TRIPLET}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${QUELBY_MINGW_TRIPLET}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${QUELBY_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc, libstdc++ and winpthread linked in: nothing to ship beside the exe.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test executables are run through Wine from ctest.
find_program(QUELBY_WINE_PROGRAM NAMES wine64 wine)
if(QUELBY_WINE_PROGRAM)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QUELBY_WINE_PROGRAM})
endif()
