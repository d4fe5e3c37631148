# Cross builds for Windows with Debian's mingw-w64 x86_64 compilers. Everything but the operating
# system is linked in, so the program imports only KERNEL32 and the C runtime (msvcrt.dll).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CLEAVE_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${CLEAVE_MINGW_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${CLEAVE_MINGW_TRIPLET}-g++)
set(CMAKE_RC_COMPILER ${CLEAVE_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${CLEAVE_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
