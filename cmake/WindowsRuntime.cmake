# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
# Install-time part of the Windows install rules (cmake/Packaging.cmake sets the qo_* variables):
# copies every DLL that the installed program and plugins load, except Windows' own, beside the
# program, and fails when one cannot be found, since the folder would then not start.
if(NOT CMAKE_HOST_WIN32)
    # Cross builds (mingw-w64 on Linux) read the imports with objdump.
    set(CMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM windows+pe)
    set(CMAKE_GET_RUNTIME_DEPENDENCIES_TOOL objdump)
    set(CMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND "${qo_objdump}")
    # CMake looks a Windows DLL up by its lower-case name, which misses Qt6Core.dll on a
    # case-sensitive file system: the folders are offered through lower-case links instead.
    file(REMOVE_RECURSE "${qo_links}")
    file(MAKE_DIRECTORY "${qo_links}")
    foreach(qo_dir IN LISTS qo_dirs)
        file(GLOB qo_dlls "${qo_dir}/*.dll" "${qo_dir}/*.DLL")
        foreach(qo_dll IN LISTS qo_dlls)
            get_filename_component(qo_name "${qo_dll}" NAME)
            string(TOLOWER "${qo_name}" qo_name)
            if(NOT EXISTS "${qo_links}/${qo_name}")
                file(CREATE_LINK "${qo_dll}" "${qo_links}/${qo_name}" SYMBOLIC)
            endif()
        endforeach()
    endforeach()
    set(qo_dirs "${qo_links}")
endif()
file(GET_RUNTIME_DEPENDENCIES
    EXECUTABLES "${qo_program}"
    MODULES ${qo_plugins}
    RESOLVED_DEPENDENCIES_VAR qo_found
    UNRESOLVED_DEPENDENCIES_VAR qo_missing
    DIRECTORIES ${qo_dirs}
    PRE_EXCLUDE_REGEXES "^api-ms-" "^ext-ms-"
    POST_EXCLUDE_REGEXES "^[A-Za-z]:[/\\\\][Ww][Ii][Nn][Dd][Oo][Ww][Ss][/\\\\]")
get_filename_component(qo_folder "${qo_program}" DIRECTORY)
foreach(qo_dll IN LISTS qo_found)
    file(REAL_PATH "${qo_dll}" qo_dll)
    file(INSTALL "${qo_dll}" DESTINATION "${qo_folder}")
endforeach()

if(qo_cross)
    # Windows' own DLLs are not on this machine; mingw-w64 has an import library for each of
    # them, so anything unresolved without one is a library the folder lacks.
    set(qo_lacking "")
    foreach(qo_dll IN LISTS qo_missing)
        string(TOLOWER "${qo_dll}" qo_name)
        string(REGEX REPLACE "\\.dll$" "" qo_name "${qo_name}")
        execute_process(COMMAND "${qo_cxx}" -print-file-name=lib${qo_name}.a
            OUTPUT_VARIABLE qo_import OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(NOT IS_ABSOLUTE "${qo_import}")
            list(APPEND qo_lacking "${qo_dll}")
        endif()
    endforeach()
    if(qo_lacking)
        message(FATAL_ERROR "Not found, so the folder would not start: ${qo_lacking}")
    endif()
elseif(qo_missing)
    message(WARNING "Not found, copy them beside QuorvelOlvane.exe: ${qo_missing}")
endif()
