# Shared build helpers.

function(nelko_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# Host code runs under AddressSanitizer and UBSan.
function(nelko_sanitize target)
  if(NOT WIN32)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer
                                             -fno-sanitize-recover=undefined)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()

# A module lists its sources once: CORE files build on both trees, WIN32 files
# only into the Windows program.
function(nelko_sources)
  cmake_parse_arguments(S "" "" "CORE;WIN32" ${ARGN})
  list(TRANSFORM S_CORE PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
  list(TRANSFORM S_WIN32 PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
  if(WIN32)
    target_sources(nelkolib PRIVATE ${S_CORE} ${S_WIN32})
  else()
    target_sources(nelkocore PRIVATE ${S_CORE})
  endif()
endfunction()

# GoogleTest from Debian's source package, built in each tree.
macro(nelko_add_googletest)
  if(NOT TARGET gtest)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  endif()
endmacro()

# Static i686 executables: nothing but system DLLs at run time, no symbols
# to carry around, and no link time stamp (two builds of one commit are the
# same bytes).
function(nelko_win32_executable target)
  target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++ -s
                                        -Wl,--no-insert-timestamp)
  nelko_warnings(${target})
endfunction()

# The version resource of a Windows program or DLL: product "Nelko", the
# project's version, its file name and what it is.
function(nelko_version_resource target filename description)
  set(NELKO_FILE_NAME ${filename})
  set(NELKO_FILE_DESCRIPTION ${description})
  set(NELKO_FILE_TYPE VFT_APP)
  if(filename MATCHES "[.]dll$")
    set(NELKO_FILE_TYPE VFT_DLL)
  endif()
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/resources/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()

# The character program built from a resource script: nelko.exe from
# resources/nelko.rc, and the test variants from scripts with altered strings.
function(nelko_program target rcfile)
  add_executable(${target} WIN32 ${PROJECT_SOURCE_DIR}/app/main.cpp ${rcfile})
  target_link_libraries(${target} PRIVATE nelkolib user32 gdi32 winmm advapi32 ole32 uuid)
  nelko_win32_executable(${target})
  nelko_version_resource(${target} ${target}.exe "Nelko, the desktop character")
  if(TARGET nelko_assets)
    add_dependencies(${target} nelko_assets)
  endif()
endfunction()
