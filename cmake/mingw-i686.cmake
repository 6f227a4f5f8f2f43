# 32-bit Windows: the product's build.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ZGL_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
