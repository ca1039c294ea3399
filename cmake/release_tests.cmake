# The release's tests, in the 32-bit build: the same bytes from any folder and clock, signing with
# throwaway keys, check-release against hostile downloads, and under each Wine (cmake/wine.cmake)
# the self-test kit, on a bare screen and on a crowded desktop, and Windows' own view of the
# signed programs.
function(quorvel_add_release_tests)
    set(source ${PROJECT_SOURCE_DIR})
    set(build ${PROJECT_BINARY_DIR})
    set(tests ${PROJECT_SOURCE_DIR}/tests)
    # The releases a test makes and checks are built once per commit (tools/release/build-commit).
    set(cache QUORVEL_BUILD_CACHE=${build}/release-builds)

    add_test(NAME release_reproducible COMMAND ${tests}/release_test ${source} ${build})
    set_tests_properties(release_reproducible PROPERTIES TIMEOUT 600)
    # Signed with throwaway keys: from a token, a PKCS#12 file and a PEM key, timestamped on
    # loopback; then checked by anyone's means (check-release) and by Windows' own (below).
    add_test(NAME release_signed COMMAND ${tests}/signing_test ${source} ${build}/signed)
    set_tests_properties(release_signed PROPERTIES TIMEOUT 900 FIXTURES_SETUP signed_release
                         ENVIRONMENT "${cache}")
    # check-release against downloads an attacker made from that signed release.
    add_test(NAME release_hostile_download
        COMMAND ${QUORVEL_SYSTEM_PYTHON} ${tests}/hostile_download_test ${source} ${build}/signed
                ${build}/hostile-download)
    set_tests_properties(release_hostile_download PROPERTIES TIMEOUT 900
                         FIXTURES_REQUIRED signed_release ENVIRONMENT "${cache}")

    # The kit as released, in a fresh prefix of its own: selftest.cmd passes, fails and ends early
    # as it should, on a few cases, with the programs this machine's Wine runs at full speed.
    quorvel_add_wine_test(release_selftest_kit_@wine@ PREFIX none TIMEOUT 300
        COMMAND ${tests}/selftest_kit_test ${source} ${QUORVEL_E2E_PROGRAMS}
                ${QUORVEL_E2E_RUN_ARCH})
    # The whole kit on a crowded desktop, in a prefix of its own: a window manager at 1024 x 768,
    # a maximized window in the foreground, always-on-top windows over the middle and the bottom.
    quorvel_add_wine_test(release_selftest_crowded_@wine@ PREFIX none TIMEOUT 300
        COMMAND ${tests}/selftest_crowded_test ${source} ${QUORVEL_E2E_PROGRAMS}
                ${build}/@wine@-crowded ${QUORVEL_E2E_RUN_ARCH})
    # WinVerifyTrust's verdicts on the signed programs.
    quorvel_add_wine_test(release_signed_@wine@ TIMEOUT 300 FIXTURES_REQUIRED signed_release
        COMMAND ${tests}/signed_programs_test verdicts ${QUORVEL_E2E_PROGRAMS} ${build}/signed
                ${build}/@wine@ ${QUORVEL_E2E_RUN_ARCH})
    # The signed programs start, show the panel, serve the console and report, through a few cases:
    # where the kernel runs no 32-bit code, emulated, as the shipped ones are.
    if(QUORVEL_E2E_RUN_ARCH STREQUAL "x86_64")
        quorvel_add_wine_test(release_signed_@wine@_suite PREFIX emulated TIMEOUT 600
            FIXTURES_REQUIRED signed_release
            COMMAND ${tests}/signed_programs_test suite ${QUORVEL_E2E_PROGRAMS} ${build}/signed
                    ${build}/@wine@-i686-emulated i686-emulated ${QUORVEL_E2E_SHIPPED_CASES})
    else()
        quorvel_add_wine_test(release_signed_@wine@_suite TIMEOUT 300
            FIXTURES_REQUIRED signed_release
            COMMAND ${tests}/signed_programs_test suite ${QUORVEL_E2E_PROGRAMS} ${build}/signed
                    ${build}/@wine@ ${QUORVEL_E2E_RUN_ARCH} ${QUORVEL_E2E_SHIPPED_CASES})
    endif()
endfunction()
