// Whether a program file is signed by the same publisher as the running program.
#include "update/publisher_check.h"

#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

namespace {

const int kSubjectSize = 512;
const DWORD kPathSize = 260;

// Verifies the file's signature without any user interface and writes its signer's subject name.
bool SignerSubject(const wchar_t *path, wchar_t *subject) {
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = path;

    WINTRUST_DATA trust = {};
    trust.cbStruct = sizeof trust;
    trust.dwUIChoice = WTD_UI_NONE;
    trust.fdwRevocationChecks = WTD_REVOKE_NONE;
    trust.dwUnionChoice = WTD_CHOICE_FILE;
    trust.pFile = &file;
    trust.dwStateAction = WTD_STATEACTION_VERIFY;

    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG status = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &trust);
    bool named = false;
    if (status == ERROR_SUCCESS) {
        CRYPT_PROVIDER_DATA *provider = WTHelperProvDataFromStateData(trust.hWVTStateData);
        CRYPT_PROVIDER_SGNR *signer = provider ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
        CRYPT_PROVIDER_CERT *certificate = signer ? WTHelperGetProvCertFromChain(signer, 0) : nullptr;
        if (certificate != nullptr && certificate->pCert != nullptr)
            named = CertNameToStrW(X509_ASN_ENCODING, &certificate->pCert->pCertInfo->Subject,
                                   CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG, subject, kSubjectSize) > 1;
    }
    trust.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &trust);
    return named;
}

} // namespace

bool IsSignedBySamePublisher(const wchar_t *candidatePath) {
    wchar_t ownPath[kPathSize] = {};
    const DWORD ownLength = GetModuleFileNameW(nullptr, ownPath, kPathSize);
    if (ownLength == 0 || ownLength >= kPathSize)
        return false;
    wchar_t candidateSubject[kSubjectSize] = {};
    wchar_t ownSubject[kSubjectSize] = {};
    return SignerSubject(ownPath, ownSubject) && SignerSubject(candidatePath, candidateSubject) &&
           lstrcmpW(ownSubject, candidateSubject) == 0;
}
