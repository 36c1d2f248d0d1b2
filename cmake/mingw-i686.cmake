# 32-bit Windows programs (PE32): the shipped build.
set(INSTKIT_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
