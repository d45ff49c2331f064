# Cross toolchain of the whole Windows build: 32-bit Windows with mingw-w64. The posix
# thread model is needed because GoogleTest uses std::mutex; -static keeps winpthread out
# of the imports. Its runtime needs newer systems than the updater supports, so the
# shipped Seekwell.exe comes from a nested build with the toolchain below (app/).
set(SEEKWELL_MINGW_ARCH i686)
set(SEEKWELL_THREAD_MODEL posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
set(SEEKWELL_PRODUCT_TOOLCHAIN ${CMAKE_CURRENT_LIST_DIR}/mingw-i686-product.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run.sh)
