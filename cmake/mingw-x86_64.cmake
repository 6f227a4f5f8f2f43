# 64-bit Windows: the same programs, whose tests run under 64-bit Wine on every machine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZGL_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
