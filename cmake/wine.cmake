# The Wines the Windows programs are tested under, what runs there, and a test under each Wine.
# Included by the 32-bit build before e2e/ and the release tests, which read what it sets.
#
# This machine's kernel may lack 32-bit support; Wine's i386 loader then runs under qemu-user,
# seconds per process start. There the end-to-end suite runs against an x86-64 build of the same
# sources under wine64 (e2e/CMakeLists.txt). QUORVEL_E2E_ARCH chooses: i686 (the shipped build
# itself), x86_64, or auto; e2e/wine-env answers which, and where those programs are.
set(QUORVEL_E2E_ARCH auto CACHE STRING "Architecture of the end-to-end run: auto, i686, x86_64")
set(QUORVEL_WINE_ENV ${PROJECT_SOURCE_DIR}/e2e/wine-env)
execute_process(COMMAND ${QUORVEL_WINE_ENV} programs ${PROJECT_BINARY_DIR} ${QUORVEL_E2E_ARCH}
                OUTPUT_VARIABLE programs OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
# "ARCH FOLDER"
string(REGEX REPLACE " .*" "" QUORVEL_E2E_RUN_ARCH "${programs}")
string(REGEX REPLACE "^[^ ]+ " "" QUORVEL_E2E_PROGRAMS "${programs}")
message(STATUS "End-to-end suite runs the ${QUORVEL_E2E_RUN_ARCH} build under Wine")

# Where the kernel runs no 32-bit code, the cases the shipped i686 programs run through, emulated;
# and everywhere, the signed programs: they start, show the panel, serve the console, report.
set(QUORVEL_E2E_SHIPPED_CASES
    EndToEnd.PanelShows*:EndToEnd.StopEnds*:EndToEnd.InspectorWithAWrongClass*)

# Two window managers: this machine's Wine (Debian 12: Wine 8.0), and Wine 10.0 from a Debian 13
# system of its own, which e2e/wine10-root makes once and caches.
option(QUORVEL_WINE10 "Also run the Wine tests under Wine 10.0 from a Debian 13 root (needs root)" ON)
set(QUORVEL_WINE10_ROOT /var/cache/quorvel/wine10 CACHE PATH
    "Where the Debian 13 root for Wine 10.0 is kept")
set(QUORVEL_WINES wine8)
set(QUORVEL_WINE8_ENVIRONMENT WINE_ENV_SAY_VERSION=1)
if(QUORVEL_WINE10)
    list(APPEND QUORVEL_WINES wine10)
    # The build folder too may lie outside the sources; the root sees it at its own path.
    set(QUORVEL_WINE10_ENVIRONMENT WINE_ENV_SAY_VERSION=1 WINE_ROOT=${QUORVEL_WINE10_ROOT}
                                   WINE_ROOT_BINDS=${PROJECT_BINARY_DIR})
endif()

# quorvel_add_wine_test(NAME COMMAND ARGS... [PREFIX suite|emulated|none] [TIMEOUT S]
#                       [LABELS ...] [FIXTURES_REQUIRED ...] [PROPERTIES NAME VALUE...])
# One test under each Wine. In NAME and every argument, @wine@ stands for the Wine's name (wine8,
# wine10). Each gets its Wine's environment and label, and needs what that Wine needs. PREFIX
# says which of its Wine prefixes it runs in, whose fixture it then needs and whose turn it takes:
# suite (the default: the end-to-end suite's, DIR = build/@wine@), emulated (where the kernel runs
# no 32-bit code, the emulated i686 one, build/@wine@-i686-emulated), or none (a test that makes
# its own, or the prefix's own set-up).
function(quorvel_add_wine_test name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "PREFIX;TIMEOUT"
                          "COMMAND;LABELS;FIXTURES_REQUIRED;PROPERTIES")
    if(NOT arg_PREFIX)
        set(arg_PREFIX suite)
    endif()
    foreach(wine ${QUORVEL_WINES})
        string(TOUPPER ${wine} upper)
        string(REPLACE @wine@ ${wine} test ${name})
        string(REPLACE @wine@ ${wine} command "${arg_COMMAND}")
        string(REPLACE @wine@ ${wine} properties "${arg_PROPERTIES}")
        string(REPLACE @wine@ ${wine} fixtures "${arg_FIXTURES_REQUIRED}")
        if(arg_PREFIX STREQUAL "suite")
            list(APPEND fixtures e2e_${wine})
            set(lock ${wine})
        elseif(arg_PREFIX STREQUAL "emulated")
            list(APPEND fixtures e2e_${wine}_emulated)
            set(lock ${wine}_emulated)
        elseif(arg_PREFIX STREQUAL "none")
            set(lock "")
        else()
            message(FATAL_ERROR "quorvel_add_wine_test: no PREFIX ${arg_PREFIX}")
        endif()
        if(wine STREQUAL "wine10")
            list(APPEND fixtures wine10_root)
        endif()
        add_test(NAME ${test} COMMAND ${command})
        set(labels ${wine} ${arg_LABELS})
        set_tests_properties(${test} PROPERTIES LABELS "${labels}")
        if(QUORVEL_${upper}_ENVIRONMENT)
            set_tests_properties(${test} PROPERTIES
                                 ENVIRONMENT "${QUORVEL_${upper}_ENVIRONMENT}")
        endif()
        if(fixtures)
            set_tests_properties(${test} PROPERTIES FIXTURES_REQUIRED "${fixtures}")
        endif()
        if(lock)
            set_tests_properties(${test} PROPERTIES RESOURCE_LOCK ${lock})
        endif()
        if(arg_TIMEOUT)
            set_tests_properties(${test} PROPERTIES TIMEOUT ${arg_TIMEOUT})
        endif()
        if(properties)
            set_tests_properties(${test} PROPERTIES ${properties})
        endif()
    endforeach()
endfunction()
