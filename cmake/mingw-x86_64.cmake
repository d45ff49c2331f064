# Cross toolchain of the whole Windows build as 64-bit programs, for hosts that cannot run
# 32-bit x86 code (and to keep that build honest elsewhere). The updater it builds behaves
# as the shipped 32-bit one does under WoW64 on 64-bit Windows; what differs with the
# pointer size is said in win/Bitness.h. The tests run under Wine's 64-bit loader.
set(SEEKWELL_MINGW_ARCH x86_64)
set(SEEKWELL_THREAD_MODEL posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
set(SEEKWELL_PRODUCT_TOOLCHAIN ${CMAKE_CURRENT_LIST_DIR}/mingw-x86_64-product.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run.sh)
