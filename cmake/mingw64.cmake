# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix threads):
#   cmake --preset mingw64
# The C and C++ run-time libraries (libgcc, libstdc++, winpthread) are
# linked statically into every DLL and program, so they need nothing beside
# the system DLLs of Windows (or Wine).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(OXRIN_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${OXRIN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OXRIN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${OXRIN_MINGW_TRIPLE}-windres)
set(CMAKE_DLLTOOL ${OXRIN_MINGW_TRIPLE}-dlltool)

set(CMAKE_FIND_ROOT_PATH /usr/${OXRIN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows x64 keeps the stack 16-byte aligned; GCC cannot realign it for
# 32-byte AVX spills, so the assembler turns aligned vector moves into
# unaligned ones (the AVX/F16C paths are chosen at run time by CPUID).
set(CMAKE_C_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")
set(CMAKE_CXX_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
