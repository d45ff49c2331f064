# Cross toolchain of the 64-bit Seekwell.exe of the 64-bit test build: the win32
# thread-model compiler, as for the shipped 32-bit executable, so that both link the
# same runtime.
set(SEEKWELL_MINGW_ARCH x86_64)
set(SEEKWELL_THREAD_MODEL win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
