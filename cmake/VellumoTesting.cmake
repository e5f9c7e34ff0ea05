# vellumo_add_test(NAME <name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>] [TIMEOUT <s>]
#                  [WRAPPER <script>])
#
# WRAPPER runs the test through a script (bash <script> <test>) that sets up
# what it needs around it, such as a session bus.
#
# Every test runs offscreen with its own timeout, so a modal dialog that nobody
# answers fails the test instead of hanging the whole run.

# A test that skipped part of itself is shown as skipped, not as passed. CTest
# skips on a match whatever the exit code, so the patterns match only the
# summary of a run that failed nothing: Qt Test's totals with 0 failed, and
# GoogleTest's list of skipped tests as the very end of the output (a run with
# failures lists them after it, a sanitizer report follows it).
set(VELLUMO_SKIP_PATTERNS
    "Totals: [0-9]+ passed, 0 failed, [1-9][0-9]* skipped"
    "\\[  SKIPPED \\] [0-9]+ tests?, listed below:\n(\\[  SKIPPED \\] [^\n]*\n)*\n*( *YOU HAVE [0-9]+ DISABLED TESTS?\n*)?$")
function(vellumo_add_test)
    cmake_parse_arguments(T "" "NAME;TIMEOUT;WRAPPER" "SOURCES;LIBS;LABELS" ${ARGN})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS})
    if(T_WRAPPER)
        add_test(NAME ${T_NAME} COMMAND bash ${T_WRAPPER} $<TARGET_FILE:${T_NAME}>)
    else()
        add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    endif()
    set_tests_properties(${T_NAME} PROPERTIES
        TIMEOUT ${T_TIMEOUT}
        LABELS "${T_LABELS}"
        SKIP_REGULAR_EXPRESSION "${VELLUMO_SKIP_PATTERNS}"
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;VELLUMO_SHARED_DIR=${VELLUMO_SHARED_DIR};VELLUMO_SPLASH_MS=0;XDG_RUNTIME_DIR=${CMAKE_BINARY_DIR}/xdg-runtime")
endfunction()

# vellumo_add_display_test(NAME <name> SOURCES <files...> LIBS <targets...> [TIMEOUT <s>]
#                          [PROGRAMS <programs...>])
#
# A test of what reaches a real X server (titles, frames, stacking): it runs
# under Xvfb on the xcb platform instead of offscreen. It is not built, with a
# note, when xvfb-run or one of PROGRAMS (a window manager, xprop, xdotool) is
# missing.
function(vellumo_add_display_test)
    cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;PROGRAMS" ${ARGN})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 60)
    endif()
    foreach(program xvfb-run ${T_PROGRAMS})
        string(MAKE_C_IDENTIFIER "VELLUMO_PROGRAM_${program}" found)
        find_program(${found} ${program})
        if(NOT ${found})
            message(STATUS "${program} missing: ${T_NAME} not built")
            return()
        endif()
    endforeach()
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS})
    add_test(NAME ${T_NAME}
        COMMAND ${VELLUMO_PROGRAM_xvfb_run} -a -s "-screen 0 1024x768x24" $<TARGET_FILE:${T_NAME}>)
    set_tests_properties(${T_NAME} PROPERTIES
        TIMEOUT ${T_TIMEOUT}
        SKIP_REGULAR_EXPRESSION "${VELLUMO_SKIP_PATTERNS}"
        ENVIRONMENT "QT_QPA_PLATFORM=xcb;VELLUMO_SPLASH_MS=0;XDG_RUNTIME_DIR=${CMAKE_BINARY_DIR}/xdg-runtime")
endfunction()

# The real sample tables live beside the project, not in it; tests that need
# them skip when this folder is absent.
if(NOT DEFINED VELLUMO_SHARED_DIR)
    get_filename_component(VELLUMO_SHARED_DIR "${CMAKE_SOURCE_DIR}/../shared" ABSOLUTE)
endif()
file(MAKE_DIRECTORY "${CMAKE_BINARY_DIR}/xdg-runtime")
