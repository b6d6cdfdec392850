# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
#
# Run by CPack after each Windows package is made (CPACK_POST_BUILD_SCRIPTS, cmake/Packaging.cmake):
# once both the ZIP and the installer of this version are there, the winget and Scoop manifests
# are written into the package folder (scripts/write-manifests.py), with the hashes of those
# very files. CPack hands over the package just made where it made it (CPACK_PACKAGE_FILES),
# before copying it to the package folder, where the other generator's package already is.
set(qo_zip "${CPACK_PACKAGE_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.zip")
set(qo_installer "${CPACK_PACKAGE_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.exe")
foreach(qo_file IN LISTS CPACK_PACKAGE_FILES)
    if(qo_file MATCHES "\\.zip$")
        set(qo_zip "${qo_file}")
    elseif(qo_file MATCHES "\\.exe$")
        set(qo_installer "${qo_file}")
    endif()
endforeach()
if(EXISTS "${qo_zip}" AND EXISTS "${qo_installer}")
    execute_process(COMMAND "${CPACK_QO_PYTHON}" "${CPACK_QO_MANIFEST_SCRIPT}"
            "${qo_zip}" "${qo_installer}" "${CPACK_PACKAGE_VERSION}" "${CPACK_PACKAGE_DIRECTORY}"
            --url-base "${CPACK_QO_RELEASE_URL}"
        RESULT_VARIABLE qo_result)
    if(NOT qo_result EQUAL 0)
        message(FATAL_ERROR "The winget and Scoop manifests could not be written")
    endif()
endif()
