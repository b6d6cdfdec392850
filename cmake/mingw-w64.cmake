# Cross build for 64-bit Windows with Debian's mingw-w64 (POSIX threads, which
# std::thread and Qt need), against the Qt 6 and hidapi that
# scripts/windows-deps.sh builds into the cache named below.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QO_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QO_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QO_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${QO_MINGW}-windres)

# The one place that names the cache; scripts/windows-deps.sh reads it from here.
set(QO_WINDOWS_DEPS_NAME "mingw-w64-qt6.4.2-hidapi0.13.1-r1")
if(DEFINED ENV{QO_WINDOWS_DEPS})
    set(QO_WINDOWS_DEPS "$ENV{QO_WINDOWS_DEPS}")
elseif(DEFINED ENV{XDG_CACHE_HOME} AND NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
    set(QO_WINDOWS_DEPS "$ENV{XDG_CACHE_HOME}/quorvel-olvane/${QO_WINDOWS_DEPS_NAME}")
else()
    set(QO_WINDOWS_DEPS "$ENV{HOME}/.cache/quorvel-olvane/${QO_WINDOWS_DEPS_NAME}")
endif()

# Only the mingw sysroot and the cache: the host's /usr (its C headers, its
# Linux libraries and CMake packages) must never leak into a Windows build.
set(CMAKE_FIND_ROOT_PATH /usr/${QO_MINGW} ${QO_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
