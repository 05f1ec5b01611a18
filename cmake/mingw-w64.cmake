# What both mingw-w64 toolchains share; the toolchain files set TIDEWIRE_MINGW_TRIPLET and
# CMAKE_SYSTEM_PROCESSOR, then include this.
#
# The posix thread model gives std::thread and std::mutex (through winpthreads); the win32 model
# of this compiler generation has neither. libgcc, libstdc++ and winpthreads are linked in
# statically, so the DLL is one file that needs nothing but the system's own DLLs.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${TIDEWIRE_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TIDEWIRE_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TIDEWIRE_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TIDEWIRE_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static makes the linker take the archive of every library it still needs (winpthreads
# above all, which the compiler driver would otherwise take as a DLL); the system's import
# libraries (kernel32 and friends) are archives already.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
