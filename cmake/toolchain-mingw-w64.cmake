# 64-bit Windows with Debian's MinGW-w64 compilers, the posix flavour: the
# win32 flavour of g++ 12 has no std::thread. Programs are linked static, so
# they need only Windows' own DLLs, and ctest runs them under Wine.
#
# SPARKLOOM_WINDOWS_PREFIX names the folder the libraries built from Debian
# 13's sources (zlib, minizip, expat) were installed into
# (scripts/windows-deps.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_AR ${triple}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${triple}-gcc-ranlib-posix CACHE FILEPATH "")

# No time stamp in the PE headers and no build machine path in the code
# (__FILE__, debug info): two builds of one commit in two folders give the
# same bytes. The build folder's own map comes last, as it lies inside the
# source folder and the last matching map wins.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -Wl,--no-insert-timestamp")
set(CMAKE_C_FLAGS_INIT "-ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=build")
set(CMAKE_CXX_FLAGS_INIT "${CMAKE_C_FLAGS_INIT}")

# Headers and libraries come from the MinGW tree and the prefix only, never
# from the build machine's /usr.
# The prefix comes first: its zlib is Debian 13's, where the MinGW tree may
# hold an older one.
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
if(SPARKLOOM_WINDOWS_PREFIX)
  list(PREPEND CMAKE_FIND_ROOT_PATH ${SPARKLOOM_WINDOWS_PREFIX})
  set(ENV{PKG_CONFIG_LIBDIR} ${SPARKLOOM_WINDOWS_PREFIX}/lib/pkgconfig)
  set(ENV{PKG_CONFIG_PATH} "")
  set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# try_compile projects see these too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES SPARKLOOM_WINDOWS_PREFIX)

# ctest runs the Windows programs through Wine, by a script the build writes
# (tests/windows/wine-run.sh.in): a prefix of the build folder's own per
# locale, no Mono or Gecko prompts, no desktop entries, no debug chatter.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)
