# Settings every cross toolchain shares: Windows with mingw-w64, the runtime linked
# statically so that no compiler DLL has to ship. Included with SEEKWELL_MINGW_ARCH set to
# the processor (i686 for the shipped 32-bit updater, x86_64 for the build that stands in
# for it on hosts that cannot run 32-bit code) and SEEKWELL_THREAD_MODEL to the compiler
# variant (posix or win32).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${SEEKWELL_MINGW_ARCH})
set(TOOLCHAIN_PREFIX ${SEEKWELL_MINGW_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-${SEEKWELL_THREAD_MODEL})
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-${SEEKWELL_THREAD_MODEL})
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
