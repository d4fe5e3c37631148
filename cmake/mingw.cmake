# Cross builds for Windows with Debian's mingw-w64 compilers, for the processor the including
# toolchain file names. Everything but the operating system is linked in, so the program
# imports only KERNEL32 and the C runtime (msvcrt.dll).
set(CMAKE_SYSTEM_NAME Windows)

set(CLEAVE_MINGW_TRIPLET ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${CLEAVE_MINGW_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${CLEAVE_MINGW_TRIPLET}-g++)
set(CMAKE_RC_COMPILER ${CLEAVE_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${CLEAVE_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
