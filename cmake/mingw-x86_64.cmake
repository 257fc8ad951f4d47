# Cross toolchain: 64-bit Windows, for the tests where 32-bit Wine cannot run (scripts/arch).
set(LUMETRA_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
