# SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
# SPDX-License-Identifier: MIT
# Runs one QTest program of a Windows build (through QO_EMULATOR, Wine, when cross-built)
# with its log in a file, then prints the log: a Windows program without a console of its
# own, as under ctest, would otherwise send that log to the debugger.
#   cmake -DQO_EMULATOR=... -DQO_PROGRAM=... -DQO_LOG=... -P run_qtest.cmake
file(REMOVE "${QO_LOG}")
execute_process(COMMAND ${QO_EMULATOR} "${QO_PROGRAM}" -o "${QO_LOG},txt" RESULT_VARIABLE qo_status)
if(EXISTS "${QO_LOG}")
    execute_process(COMMAND "${CMAKE_COMMAND}" -E cat "${QO_LOG}")
endif()
if(NOT qo_status EQUAL 0)
    message(FATAL_ERROR "${QO_PROGRAM}: exit status ${qo_status}")
endif()
