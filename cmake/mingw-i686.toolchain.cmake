# Cross build for 32-bit Windows (i686): the programs as shipped.
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.toolchain.cmake)
