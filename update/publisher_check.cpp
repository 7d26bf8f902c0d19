// Whether a program file is signed by the same publisher as the running program.
#include "update/publisher_check.h"

#include <string.h>

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include "platform/program_path_win32.h"
#include "platform/system_library.h"

namespace {

// wintrust.dll and crypt32.dll are not Known DLLs: imported, they would be looked for in the program's own folder
// (often Downloads) before main runs. Loaded here from System32, when the first update is checked.
struct TrustFunctions {
    decltype(&WinVerifyTrust) verifyTrust;
    decltype(&WTHelperProvDataFromStateData) providerData;
    decltype(&WTHelperGetProvSignerFromChain) signer;
    decltype(&WTHelperGetProvCertFromChain) certificate;
    decltype(&CertComparePublicKeyInfo) samePublicKey;
};

bool LoadTrustFunctions(TrustFunctions &trust) {
    trust.verifyTrust = SystemFunction<decltype(&WinVerifyTrust)>(L"wintrust.dll", "WinVerifyTrust");
    trust.providerData =
        SystemFunction<decltype(&WTHelperProvDataFromStateData)>(L"wintrust.dll", "WTHelperProvDataFromStateData");
    trust.signer =
        SystemFunction<decltype(&WTHelperGetProvSignerFromChain)>(L"wintrust.dll", "WTHelperGetProvSignerFromChain");
    trust.certificate =
        SystemFunction<decltype(&WTHelperGetProvCertFromChain)>(L"wintrust.dll", "WTHelperGetProvCertFromChain");
    trust.samePublicKey =
        SystemFunction<decltype(&CertComparePublicKeyInfo)>(L"crypt32.dll", "CertComparePublicKeyInfo");
    return trust.verifyTrust && trust.providerData && trust.signer && trust.certificate && trust.samePublicKey;
}

// One signature check, whose state stays open so that the signer's certificate can be read until EndCheck.
struct SignatureCheck {
    WINTRUST_FILE_INFO file;
    WINTRUST_DATA data;
};

GUID VerifyAction() {
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    return action;
}

// Verifies the file's signature without any user interface, through `handle` when it is not null. Returns the
// signer's certificate, valid until EndCheck, or null.
const CERT_CONTEXT *CheckSignature(const TrustFunctions &trust, const wchar_t *path, HANDLE handle,
                                   SignatureCheck &check) {
    check.file.cbStruct = sizeof check.file;
    check.file.pcwszFilePath = path;
    check.file.hFile = handle;
    check.data.cbStruct = sizeof check.data;
    check.data.dwUIChoice = WTD_UI_NONE;
    // Every certificate but the root is checked for revocation, ours and the candidate's: a revoked signer is refused.
    // Where no revocation list or responder can be reached, Windows' default policy lets the signature stand.
    check.data.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
    check.data.dwProvFlags = WTD_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT;
    check.data.dwUnionChoice = WTD_CHOICE_FILE;
    check.data.pFile = &check.file;
    check.data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = VerifyAction();
    if (trust.verifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &check.data) != ERROR_SUCCESS)
        return nullptr;
    CRYPT_PROVIDER_DATA *provider = trust.providerData(check.data.hWVTStateData);
    CRYPT_PROVIDER_SGNR *signer = provider ? trust.signer(provider, 0, FALSE, 0) : nullptr;
    CRYPT_PROVIDER_CERT *certificate = signer ? trust.certificate(signer, 0) : nullptr;
    return certificate ? certificate->pCert : nullptr;
}

void EndCheck(const TrustFunctions &trust, SignatureCheck &check) {
    if (check.data.hWVTStateData == nullptr)
        return;
    check.data.dwStateAction = WTD_STATEACTION_CLOSE;
    GUID action = VerifyAction();
    trust.verifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &check.data);
}

// The same subject, compared as encoded bytes (no locale or case rule can make two names equal), and the same key:
// anyone can make a certificate with our publisher's name, but not with its key.
bool SamePublisher(const TrustFunctions &trust, const CERT_CONTEXT *own, const CERT_CONTEXT *candidate) {
    const CERT_NAME_BLOB &ownName = own->pCertInfo->Subject;
    const CERT_NAME_BLOB &candidateName = candidate->pCertInfo->Subject;
    return ownName.cbData == candidateName.cbData &&
           memcmp(ownName.pbData, candidateName.pbData, ownName.cbData) == 0 &&
           trust.samePublicKey(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, &own->pCertInfo->SubjectPublicKeyInfo,
                               &candidate->pCertInfo->SubjectPublicKeyInfo);
}

} // namespace

bool IsSignedBySamePublisher(const wchar_t *candidatePath, HANDLE candidate) {
    TrustFunctions trust;
    wchar_t ownPath[kPathSize] = {};
    if (!LoadTrustFunctions(trust) || !ProgramFilePath(ownPath, kPathSize))
        return false;
    SignatureCheck own = {};
    SignatureCheck theirs = {};
    const CERT_CONTEXT *ownSigner = CheckSignature(trust, ownPath, nullptr, own);
    const CERT_CONTEXT *candidateSigner = ownSigner ? CheckSignature(trust, candidatePath, candidate, theirs) : nullptr;
    const bool same = candidateSigner != nullptr && SamePublisher(trust, ownSigner, candidateSigner);
    EndCheck(trust, theirs);
    EndCheck(trust, own);
    return same;
}
