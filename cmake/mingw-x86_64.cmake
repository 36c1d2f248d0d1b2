# 64-bit Windows programs (PE32+) from the same sources, for hosts that cannot run 32-bit code.
set(INSTKIT_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
