# The MinGW cross build; cmake/mingw-i686.cmake and cmake/mingw-x86_64.cmake name the target.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${ZGL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZGL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZGL_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZGL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# ctest runs the Windows test programs through Wine (tools/wine-run picks the loader that fits
# the program: 32-bit or 64-bit).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run)
