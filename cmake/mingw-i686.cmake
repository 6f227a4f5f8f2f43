# 32-bit Windows: the product's build.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ZGL_MINGW_TRIPLET i686-w64-mingw32)
# The compiler's default target has no SSE2, which every x86 processor since 2003 has and
# Windows 8 and later require: without it the PCX writer's vector path and the compiler's own
# vectorising are off in the program we ship. Windows keeps the stack of a 32-bit program
# aligned to 4 bytes only, where SSE spills want 16 (a window procedure, a thread's start, the
# console's control handler are all called from Windows): every function that needs more
# realigns its own stack.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -mtune=generic -mincoming-stack-boundary=2")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mtune=generic -mincoming-stack-boundary=2")
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
