# Cross toolchain: 32-bit Windows, the program the users run.
set(LUMETRA_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
