// Asks Windows itself whether programs are signed, through WinVerifyTrust, the call behind a
// file's Digital Signatures tab and the "Unknown publisher" prompt:
//   trust_check [--trust CA.der] FILE...
// --trust first adds a certificate to the user's trusted roots, as a test CA has to be. Prints a
// line per file, "FILE: " and one of "valid", "no signature", "bad digest", "untrusted root" or
// "error 0xHRESULT"; exits 0 once every file was asked about, 2 when it could not ask.
#include <windows.h>

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstdio>
#include <cwchar>
#include <vector>

namespace {

bool TrustRoot(const wchar_t* path) {
    FILE* file = _wfopen(path, L"rb");
    if (!file) {
        return false;
    }
    std::vector<BYTE> der;
    for (int c; (c = std::fgetc(file)) != EOF;) {
        der.push_back(static_cast<BYTE>(c));
    }
    std::fclose(file);
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                     CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    if (!store) {
        return false;
    }
    const BOOL added =
        CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                         static_cast<DWORD>(der.size()),
                                         CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    CertCloseStore(store, 0);
    return added != FALSE;
}

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
    case TRUST_E_SUBJECT_FORM_UNKNOWN:
    case TRUST_E_PROVIDER_UNKNOWN:
        return "no signature";
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
    int first = 1;
    if (argc > 2 && std::wcscmp(argv[1], L"--trust") == 0) {
        if (!TrustRoot(argv[2])) {
            std::fwprintf(stderr, L"trust_check: cannot add %ls to the trusted roots\n", argv[2]);
            return 2;
        }
        first = 3;
    }
    if (first >= argc) {
        std::fputs("usage: trust_check [--trust CA.der] FILE...\n", stderr);
        return 2;
    }
    for (int i = first; i < argc; ++i) {
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
