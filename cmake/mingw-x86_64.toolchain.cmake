# Cross build for 64-bit Windows (x86_64): the same programs, for the Windows
# tests on a machine that runs no 32-bit code.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.toolchain.cmake)
