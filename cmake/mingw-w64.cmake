# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
# Cross build for 64-bit Windows with Debian's mingw-w64 (POSIX threads, which
# std::thread and Qt need), against the Qt 6, hidapi and libmosquitto that
# scripts/windows-deps.sh builds into the cache named below.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QO_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QO_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QO_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${QO_MINGW}-windres)

# The one place that names the cache; scripts/windows-deps.sh reads it from here.
set(QO_WINDOWS_DEPS_NAME "mingw-w64-qt6.4.2-hidapi0.13.1-mosquitto2.0.11-r3")
if(DEFINED ENV{QO_WINDOWS_DEPS})
    set(QO_WINDOWS_DEPS "$ENV{QO_WINDOWS_DEPS}")
elseif(DEFINED ENV{XDG_CACHE_HOME} AND NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
    set(QO_WINDOWS_DEPS "$ENV{XDG_CACHE_HOME}/quorvel-olvane/${QO_WINDOWS_DEPS_NAME}")
else()
    set(QO_WINDOWS_DEPS "$ENV{HOME}/.cache/quorvel-olvane/${QO_WINDOWS_DEPS_NAME}")
endif()

# A cross-built Qt runs the host's moc, rcc and uic: those of qt6-base-dev, the same version.
if(NOT DEFINED QT_HOST_PATH)
    file(GLOB _qo_host_qt /usr/lib/*/cmake/Qt6/Qt6Config.cmake)
    if(_qo_host_qt)
        list(GET _qo_host_qt 0 _qo_host_qt)
        cmake_path(GET _qo_host_qt PARENT_PATH _qo_host_qt)
        cmake_path(GET _qo_host_qt PARENT_PATH _qo_host_qt)
        set(QT_HOST_PATH /usr CACHE PATH "The host's Qt, whose tools a cross build runs")
        set(QT_HOST_PATH_CMAKE_DIR ${_qo_host_qt} CACHE PATH "The host Qt's CMake packages")
    endif()
endif()

# Only the mingw sysroot and the cache: the host's /usr (its C headers, its
# Linux libraries and CMake packages) must never leak into a Windows build.
set(CMAKE_FIND_ROOT_PATH /usr/${QO_MINGW} ${QO_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
