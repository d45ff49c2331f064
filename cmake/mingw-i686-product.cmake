# Cross toolchain of the shipped Seekwell.exe alone: the win32 thread-model compiler,
# whose runtime imports only what Windows 98 and NT 4.0 export (the posix variant's
# winpthread needs XP and Vista). GoogleTest does not build with it, so a build with this
# toolchain holds the product and nothing else.
set(SEEKWELL_MINGW_ARCH i686)
set(SEEKWELL_THREAD_MODEL win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
