# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
# Install rules and packages.
#
# Linux (`cmake --install`, and the .deb made by CPack):
#   bin/quorvel-olvane                      launcher: enters the user's config folder, starts the bar
#   libexec/quorvel-olvane/QuorvelOlvane    the program, kept off PATH: it needs the launcher's folder
#   share/quorvel-olvane/resources/         icon and config.schema.json, linked into the config folder
#   share/quorvel-olvane/config.first-run.json the launcher's first config.json
#   share/quorvel-olvane/config.example.json every setting, to read
#   share/applications/quorvel-olvane.desktop
#   share/metainfo/quorvel.olvane.QuorvelOlvane.metainfo.xml  AppStream: how software centres list it
#   share/icons/hicolor/<size>/apps/quorvel-olvane.png
#   share/doc/quorvel-olvane/config.example.json
#   share/doc/quorvel-olvane/guide/         the user guide, docs/guide/*.md
#   share/doc/quorvel-olvane/{copyright,changelog.gz,THIRD-PARTY-NOTICES.md}  licence, release notes
#   share/man/man1/quorvel-olvane.1.gz      the launcher's manual page
#   lib/udev/rules.d/70-quorvelolvane.rules gives the user at the seat the switch box's hidraw node
#
# Windows (`cmake --install`, and the ZIP made by CPack): one folder holding QuorvelOlvane.exe, the
# Qt libraries and plugins (copied by windeployqt, or by the rules below where it cannot run),
# hidapi, the compiler's runtime, resources/, config.example.json, README.txt, LICENSE, CHANGELOG.md,
# THIRD-PARTY-NOTICES.md and licenses/ (the texts the notices name). The program reads
# config.json and resources/ from its working directory, which is that folder when it is started
# from Explorer or a shortcut. The installer (NSIS) puts that folder in
# %LOCALAPPDATA%\Programs\QuorvelOlvane and adds config.json, the uninstaller, a Start menu shortcut,
# the installed-apps entry and, when chosen, start at login (cmake/NSIS.template.in).

include(GNUInstallDirs)

set(QO_PACKAGE_NAME quorvel-olvane)
set(QO_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/..)
set(QO_MAINTAINER "QuorvelOlvane developers <quorvel-olvane@users.noreply.github.com>")

# Release notes, written once in CHANGELOG.md: the Debian changelog and the AppStream <releases>
# are made from it, and the configuration stops when the project's version has no section there.
# The host's python3, also in a cross build (which finds programs on the host).
find_program(QO_PACKAGING_PYTHON NAMES python3 REQUIRED)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    ${QO_SOURCE_DIR}/CHANGELOG.md ${QO_SOURCE_DIR}/packaging/linux/quorvel-olvane.1)
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/packaging)
execute_process(COMMAND ${QO_PACKAGING_PYTHON} ${QO_SOURCE_DIR}/scripts/changelog.py appstream
        ${QO_SOURCE_DIR}/CHANGELOG.md ${PROJECT_VERSION} ${PROJECT_BINARY_DIR}/packaging/releases.xml
    RESULT_VARIABLE _qo_result)
if(NOT _qo_result EQUAL 0)
    message(FATAL_ERROR "CHANGELOG.md does not fit version ${PROJECT_VERSION} (above)")
endif()

# The notices name the versions of the libraries built against: the Debian packages of this
# machine, which scripts/windows-deps.sh also builds the Windows libraries from.
function(qo_debian_version var package)
    # The source package's version, or the field named after the package.
    set(_field source:Version)
    if(ARGC GREATER 2)
        set(_field ${ARGV2})
    endif()
    set(_version "")
    find_program(QO_DPKG_QUERY dpkg-query)
    if(QO_DPKG_QUERY)
        execute_process(COMMAND ${QO_DPKG_QUERY} -W -f=\${${_field}} ${package}
            OUTPUT_VARIABLE _version ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    endif()
    if(_version STREQUAL "")
        set(_version "unknown")
    endif()
    # Upstream's: without the epoch, the Debian revision and the +dfsg of a repacked source.
    string(REGEX REPLACE "^[0-9]+:" "" _upstream "${_version}")
    string(REGEX REPLACE "-[^-]*$" "" _upstream "${_upstream}")
    string(REGEX REPLACE "[+~](dfsg|ds).*$" "" _upstream "${_upstream}")
    set(${var}_DEBIAN_VERSION "${_version}" PARENT_SCOPE)
    set(${var}_VERSION "${_upstream}" PARENT_SCOPE)
endfunction()
qo_debian_version(QO_QT qt6-base-dev)
qo_debian_version(QO_HIDAPI libhidapi-dev)
qo_debian_version(QO_MOSQUITTO libmosquitto-dev)
qo_debian_version(QO_JSON nlohmann-json3-dev)
qo_debian_version(QO_MINGW mingw-w64-x86-64-dev)
# (Its source package's version counts the packaging; the binary's begins with GCC's own.)
qo_debian_version(QO_GCC_RUNTIME gcc-mingw-w64-x86-64-posix-runtime Version)
set(QO_QT_VERSION ${Qt6_VERSION})
configure_file(${QO_SOURCE_DIR}/packaging/THIRD-PARTY-NOTICES.md.in
    ${PROJECT_BINARY_DIR}/packaging/THIRD-PARTY-NOTICES.md @ONLY)

if(WIN32)
    set(QO_INSTALL_PROGRAM_DIR .)
    set(QO_INSTALL_RESOURCES_DIR .)
    set(QO_INSTALL_DOC_DIR .)
else()
    set(QO_INSTALL_PROGRAM_DIR ${CMAKE_INSTALL_LIBEXECDIR}/${QO_PACKAGE_NAME})
    set(QO_INSTALL_RESOURCES_DIR ${CMAKE_INSTALL_DATADIR}/${QO_PACKAGE_NAME})
    set(QO_INSTALL_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/${QO_PACKAGE_NAME})
endif()

install(FILES ${PROJECT_BINARY_DIR}/packaging/THIRD-PARTY-NOTICES.md DESTINATION ${QO_INSTALL_DOC_DIR})

# The installed program finds Qt and hidapi where the system keeps them; no run path (Qt's
# project setup would add $ORIGIN entries meant for bundled libraries).
set_target_properties(QuorvelOlvane PROPERTIES INSTALL_RPATH "")
install(TARGETS QuorvelOlvane RUNTIME DESTINATION ${QO_INSTALL_PROGRAM_DIR})
# Loaded from beside the program when config.json has "mqtt".
install(TARGETS quorvel-olvane-mqtt LIBRARY DESTINATION ${QO_INSTALL_PROGRAM_DIR}
    RUNTIME DESTINATION ${QO_INSTALL_PROGRAM_DIR})
install(DIRECTORY ${QO_SOURCE_DIR}/resources DESTINATION ${QO_INSTALL_RESOURCES_DIR})
# Beside the icon, so that "$schema": "resources/config.schema.json" in a config.json resolves in
# the folder the program runs in.
install(FILES ${QO_SOURCE_DIR}/docs/config.schema.json
    DESTINATION ${QO_INSTALL_RESOURCES_DIR}/resources)
install(FILES ${QO_SOURCE_DIR}/docs/config.example.json DESTINATION ${QO_INSTALL_DOC_DIR})
# The user guide, whose pages the program's messages name: guide/ beside README.txt on Windows.
install(DIRECTORY ${QO_SOURCE_DIR}/docs/guide DESTINATION ${QO_INSTALL_DOC_DIR}
    FILES_MATCHING PATTERN "*.md")

if(NOT WIN32)
    # The launcher finds the program and the resources relative to itself, so the same script
    # serves /usr, /usr/local, a .deb and a DESTDIR staging tree.
    file(RELATIVE_PATH QO_LAUNCHER_TO_PROGRAM_DIR
        /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${QO_INSTALL_PROGRAM_DIR})
    file(RELATIVE_PATH QO_LAUNCHER_TO_RESOURCES_DIR
        /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${QO_INSTALL_RESOURCES_DIR}/resources)
    # Beside the resources too, where /usr/share/doc is left out.
    install(FILES ${QO_SOURCE_DIR}/docs/config.example.json DESTINATION ${QO_INSTALL_RESOURCES_DIR})
    # The first run's config.json: the tray, reconnection and the state text on, the switches as
    # documented (the example's remap is for reading, not for a new user's box).
    install(FILES ${QO_SOURCE_DIR}/packaging/linux/config.first-run.json
        DESTINATION ${QO_INSTALL_RESOURCES_DIR})
    file(RELATIVE_PATH QO_LAUNCHER_TO_FIRST_RUN
        /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${QO_INSTALL_RESOURCES_DIR}/config.first-run.json)
    configure_file(${QO_SOURCE_DIR}/packaging/linux/quorvel-olvane.in
        ${PROJECT_BINARY_DIR}/packaging/quorvel-olvane @ONLY)
    install(PROGRAMS ${PROJECT_BINARY_DIR}/packaging/quorvel-olvane
        DESTINATION ${CMAKE_INSTALL_BINDIR})

    install(FILES ${QO_SOURCE_DIR}/packaging/linux/quorvel-olvane.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    # Debian's layout: the manual page and the changelog compressed as gzip -9n does, the
    # copyright file in the machine-readable form.
    execute_process(COMMAND gzip -9n -c ${QO_SOURCE_DIR}/packaging/linux/quorvel-olvane.1
        OUTPUT_FILE ${PROJECT_BINARY_DIR}/packaging/quorvel-olvane.1.gz RESULT_VARIABLE _qo_result)
    if(NOT _qo_result EQUAL 0)
        message(FATAL_ERROR "gzip failed on the manual page")
    endif()
    install(FILES ${PROJECT_BINARY_DIR}/packaging/quorvel-olvane.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    execute_process(COMMAND ${QO_PACKAGING_PYTHON} ${QO_SOURCE_DIR}/scripts/changelog.py debian
            ${QO_SOURCE_DIR}/CHANGELOG.md ${PROJECT_VERSION} ${QO_PACKAGE_NAME} ${QO_MAINTAINER}
            ${PROJECT_BINARY_DIR}/packaging/changelog.gz
        RESULT_VARIABLE _qo_result)
    if(NOT _qo_result EQUAL 0)
        message(FATAL_ERROR "the Debian changelog could not be made from CHANGELOG.md")
    endif()
    install(FILES ${PROJECT_BINARY_DIR}/packaging/changelog.gz ${QO_SOURCE_DIR}/packaging/linux/copyright
        DESTINATION ${QO_INSTALL_DOC_DIR})
    # AppStream wants the screenshot as a web address: where docs/screenshot.png is published.
    set(QO_SCREENSHOT_URL "https://quorvel-olvane.invalid/screenshot.png" CACHE STRING
        "Web address of docs/screenshot.png, for the AppStream metadata")
    file(READ ${PROJECT_BINARY_DIR}/packaging/releases.xml QO_APPSTREAM_RELEASES)
    string(STRIP "${QO_APPSTREAM_RELEASES}" QO_APPSTREAM_RELEASES)
    configure_file(${QO_SOURCE_DIR}/packaging/linux/quorvel.olvane.QuorvelOlvane.metainfo.xml.in
        ${PROJECT_BINARY_DIR}/packaging/quorvel.olvane.QuorvelOlvane.metainfo.xml @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/packaging/quorvel.olvane.QuorvelOlvane.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
    foreach(size 16 32 48 256)
        install(FILES ${QO_SOURCE_DIR}/resources/icon/icon-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME ${QO_PACKAGE_NAME}.png)
    endforeach()

    # udev reads /usr/lib/udev/rules.d and /etc/udev/rules.d, not /usr/local/lib/...: with another
    # prefix, point this at /etc/udev/rules.d (or copy the rule there by hand).
    set(QO_UDEV_RULES_DIR lib/udev/rules.d CACHE STRING
        "Where the udev rule for the switch box is installed (relative to the prefix, or absolute)")
    install(FILES ${QO_SOURCE_DIR}/packaging/linux/70-quorvelolvane.rules
        DESTINATION ${QO_UDEV_RULES_DIR})
endif()

if(WIN32)
    install(FILES ${QO_SOURCE_DIR}/packaging/windows/README.txt DESTINATION .)
    # The folder redistributes Qt, hidapi, libmosquitto and the compiler's runtime: their licence
    # texts go with them (THIRD-PARTY-NOTICES.md names which is whose), taken from the Debian
    # packages of this build machine, the same sources scripts/windows-deps.sh built them from.
    install(FILES ${QO_SOURCE_DIR}/LICENSE ${QO_SOURCE_DIR}/CHANGELOG.md DESTINATION .)
    foreach(_qo_text IN ITEMS
            LGPL-3.0.txt=/usr/share/common-licenses/LGPL-3
            GPL-3.0.txt=/usr/share/common-licenses/GPL-3
            qt6-base.copyright=/usr/share/doc/libqt6core6/copyright
            hidapi.copyright=/usr/share/doc/libhidapi-hidraw0/copyright
            mosquitto.copyright=/usr/share/doc/libmosquitto1/copyright
            gcc-runtime.copyright=/usr/share/doc/gcc-mingw-w64-x86-64-posix-runtime/copyright
            mingw-w64.copyright=/usr/share/doc/mingw-w64-x86-64-dev/copyright
            nlohmann-json.copyright=/usr/share/doc/nlohmann-json3-dev/copyright)
        string(REPLACE "=" ";" _qo_text "${_qo_text}")
        list(GET _qo_text 0 _qo_name)
        list(GET _qo_text 1 _qo_from)
        if(NOT EXISTS ${_qo_from})
            message(FATAL_ERROR "${_qo_from} is missing: the Windows folder would ship without "
                "the licence it names (scripts/setup.sh --tests installs the packages)")
        endif()
        install(FILES ${_qo_from} DESTINATION licenses RENAME ${_qo_name})
    endforeach()
    # The manifest is embedded by the .rc; MSVC's linker would add a second one of its own.
    if(MSVC)
        target_link_options(QuorvelOlvane PRIVATE /MANIFEST:NO)
    endif()
    # The .rc names its icon and manifest relative to its own folder.
    set_property(SOURCE ${PROJECT_BINARY_DIR}/generated/QuorvelOlvane.rc APPEND PROPERTY
        INCLUDE_DIRECTORIES ${QO_SOURCE_DIR}/packaging/windows)

    # windeployqt copies the Qt libraries and plugins beside the installed program, so the folder
    # runs on a machine without Qt. It lives beside qmake (Qt installer: <Qt>/bin; vcpkg:
    # installed/<triplet>/tools/Qt6/bin).
    set(_qo_qt_bin "")
    foreach(_qo_prop IN ITEMS IMPORTED_LOCATION IMPORTED_LOCATION_RELEASE
            IMPORTED_LOCATION_RELWITHDEBINFO IMPORTED_LOCATION_DEBUG)
        if(TARGET Qt6::qmake)
            get_target_property(_qo_qmake Qt6::qmake ${_qo_prop})
            if(_qo_qmake)
                get_filename_component(_qo_dir "${_qo_qmake}" DIRECTORY)
                list(APPEND _qo_qt_bin "${_qo_dir}")
            endif()
        endif()
    endforeach()
    if(NOT CMAKE_CROSSCOMPILING)
        find_program(QO_WINDEPLOYQT NAMES windeployqt windeployqt6
            HINTS ${_qo_qt_bin} "${QT6_INSTALL_PREFIX}/bin" "${QT6_INSTALL_PREFIX}/tools/Qt6/bin")
    endif()
    set(_qo_plugins "")
    if(QO_WINDEPLOYQT)
        install(CODE "
            message(STATUS \"Running windeployqt on the installed program\")
            execute_process(
                COMMAND \"${QO_WINDEPLOYQT}\" --$<IF:$<CONFIG:Debug>,debug,release>
                    --no-translations --no-system-d3d-compiler --no-opengl-sw
                    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/QuorvelOlvane.exe\"
                RESULT_VARIABLE qo_result)
            if(NOT qo_result EQUAL 0)
                message(FATAL_ERROR \"windeployqt failed: \${qo_result}\")
            endif()
        ")
    else()
        # windeployqt is a Windows program (and not built by a cross build of Qt): the plugins
        # it would pick for this program are copied here, and their libraries with the
        # program's below. The icon is an .ico; the Vista style is what Windows users expect.
        foreach(_qo_plugin IN ITEMS platforms=Qt6::QWindowsIntegrationPlugin
                imageformats=Qt6::QICOPlugin styles=Qt6::QWindowsVistaStylePlugin)
            string(REPLACE "=" ";" _qo_plugin "${_qo_plugin}")
            list(GET _qo_plugin 0 _qo_plugin_dir)
            list(GET _qo_plugin 1 _qo_plugin_target)
            if(NOT TARGET ${_qo_plugin_target})
                message(FATAL_ERROR "Qt has no ${_qo_plugin_target}, which the Windows folder needs")
            endif()
            install(FILES $<TARGET_FILE:${_qo_plugin_target}> DESTINATION ${_qo_plugin_dir})
            string(APPEND _qo_plugins
                " \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${_qo_plugin_dir}/$<TARGET_FILE_NAME:${_qo_plugin_target}>\"")
        endforeach()
    endif()

    # hidapi, the libraries Qt itself needs (vcpkg builds them as DLLs) and, with mingw-w64, the
    # compiler's runtime: copied from the folders of the linked libraries, leaving out everything
    # Windows provides.
    set(_qo_dirs_code "")
    foreach(_qo_dir IN LISTS _qo_qt_bin)
        string(APPEND _qo_dirs_code " \"${_qo_dir}\"")
    endforeach()
    foreach(_qo_target IN ITEMS Qt6::Core hidapi::winapi hidapi::hidapi)
        if(TARGET ${_qo_target})
            get_target_property(_qo_type ${_qo_target} TYPE)
            if(_qo_type STREQUAL "SHARED_LIBRARY")
                string(APPEND _qo_dirs_code " \"$<TARGET_FILE_DIR:${_qo_target}>\"")
            endif()
        endif()
    endforeach()
    if(MINGW)
        foreach(_qo_dll IN ITEMS libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
            execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${_qo_dll}
                OUTPUT_VARIABLE _qo_path OUTPUT_STRIP_TRAILING_WHITESPACE)
            if(IS_ABSOLUTE "${_qo_path}")
                get_filename_component(_qo_dir "${_qo_path}" DIRECTORY)
                string(APPEND _qo_dirs_code " \"${_qo_dir}\"")
            endif()
        endforeach()
    endif()
    install(CODE "
        set(qo_cross \"${CMAKE_CROSSCOMPILING}\")
        set(qo_cxx \"${CMAKE_CXX_COMPILER}\")
        set(qo_objdump \"${CMAKE_OBJDUMP}\")
        set(qo_program \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/QuorvelOlvane.exe\")
        set(qo_plugins ${_qo_plugins} \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/$<TARGET_FILE_NAME:quorvel-olvane-mqtt>\")
        set(qo_dirs ${_qo_dirs_code})
        set(qo_links \"${PROJECT_BINARY_DIR}/runtime-dll-links\")
        include(\"${CMAKE_CURRENT_LIST_DIR}/WindowsRuntime.cmake\")
    ")

    # The MSVC runtime, for machines without the Visual C++ redistributable.
    set(CMAKE_INSTALL_SYSTEM_RUNTIME_DESTINATION .)
    include(InstallRequiredSystemLibraries)
endif()

# Packages
set(CPACK_PACKAGE_NAME ${QO_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "QuorvelOlvane")
set(CPACK_PACKAGE_CONTACT "${QO_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Always-on-top bar with eight coloured areas lit by a USB switch box")
set(CPACK_RESOURCE_FILE_LICENSE ${QO_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
if(WIN32)
    # The ZIP for portable use; the installer (Debian's nsis runs makensis on Linux) for one user,
    # without administrator rights, from the project's template in cmake/NSIS.template.in.
    set(CPACK_GENERATOR ZIP NSIS)
    set(CPACK_PACKAGE_FILE_NAME QuorvelOlvane-${PROJECT_VERSION}-windows-x64)
    set(CPACK_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR})
    set(CPACK_NSIS_MUI_ICON ${QO_SOURCE_DIR}/packaging/windows/QuorvelOlvane.ico)
    set(CPACK_NSIS_MUI_UNIICON ${QO_SOURCE_DIR}/packaging/windows/QuorvelOlvane.ico)
    # winget's and Scoop's manifests, written beside the packages once both are made.
    set(QO_RELEASE_URL "https://quorvel-olvane.invalid/releases/" CACHE STRING
        "Web address whose <version>/ folder holds the Windows packages, for the winget and Scoop manifests")
    set(CPACK_QO_PYTHON ${QO_PACKAGING_PYTHON})
    set(CPACK_QO_MANIFEST_SCRIPT ${QO_SOURCE_DIR}/scripts/write-manifests.py)
    set(CPACK_QO_RELEASE_URL ${QO_RELEASE_URL}${PROJECT_VERSION}/)
    set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/WriteManifests.cmake)
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION utils)
    # CPack puts the summary first, as the synopsis: the description is the text below it, in
    # lines of at most 80 columns.
    set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
        "A thin, borderless bar that stays above other windows and shows eight areas\nin two rows of four, lit and darkened by a USB HID switch box (2e8a:000a).\nColours and opacity come from ~/.config/quorvel-olvane/config.json, which the\nbar re-reads whenever it changes.")
    # dpkg-shlibdeps (from dpkg-dev, part of build-essential) names every library the program
    # links, with the versions its symbols need; without it, the packages are named by hand.
    # The X11 platform plugin (built into libqt6gui6 on Debian 12, split out later), and a
    # font with the Japanese glyphs of the bar's own texts (IPA Gothic the lighter one).
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-qpa-plugins, fonts-noto-cjk | fonts-ipafont-gothic")
    find_program(QO_DPKG_SHLIBDEPS dpkg-shlibdeps)
    if(QO_DPKG_SHLIBDEPS)
        set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    else()
        set(CPACK_DEBIAN_PACKAGE_DEPENDS
            "libqt6widgets6 (>= 6.2), libqt6gui6 (>= 6.2), libqt6core6 (>= 6.2), libhidapi-hidraw0, libmosquitto1, libstdc++6, libc6")
    endif()
    set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${QO_SOURCE_DIR}/packaging/linux/postinst)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()
include(CPack)
