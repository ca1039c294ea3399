// Asks Windows itself whether programs are signed, through WinVerifyTrust, the call behind a
// file's Digital Signatures tab and the "Unknown publisher" prompt:
//   trust_check FILE...
// Prints a line per file, "FILE: " and one of "valid", "no signature", "bad digest", "untrusted
// root" (the digest matched, but the chain ends at a root this system does not trust),
// "unparseable file" (no form that any signature format knows), "missing provider" (this system
// lacks the Authenticode policy) or "error 0xHRESULT"; exits 0 once every file was asked about.
// Only a program read whole and found without a signature is "no signature".
#include <windows.h>

#include <softpub.h>
#include <wintrust.h>

#include <cstdio>

namespace {

// The policy a double-click applies: Authenticode, no user interface, no revocation lookups
// (the machine may be offline, and a test CA publishes no revocation list).
LONG VerifyFile(const wchar_t* path) {
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = path;
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG result = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    return result;
}

const char* Verdict(LONG result) {
    switch (static_cast<HRESULT>(result)) {
    case ERROR_SUCCESS:
        return "valid";
    case TRUST_E_NOSIGNATURE:
        return "no signature";
    case TRUST_E_SUBJECT_FORM_UNKNOWN:
        return "unparseable file";
    case TRUST_E_PROVIDER_UNKNOWN:
    case TRUST_E_ACTION_UNKNOWN:
        return "missing provider";
    case TRUST_E_BAD_DIGEST:
        return "bad digest";
    case CERT_E_UNTRUSTEDROOT:
    case CERT_E_CHAINING:
        return "untrusted root";
    default:
        return nullptr;
    }
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fputs("usage: trust_check FILE...\n", stderr);
        return 2;
    }
    for (int i = 1; i < argc; ++i) {
        const LONG result = VerifyFile(argv[i]);
        const char* verdict = Verdict(result);
        if (verdict) {
            std::printf("%ls: %s\n", argv[i], verdict);
        } else {
            std::printf("%ls: error 0x%08lX\n", argv[i], static_cast<unsigned long>(result));
        }
    }
    return 0;
}
