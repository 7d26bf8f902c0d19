// Whether a program file is signed by the same publisher as the running program.
#pragma once

#include <windows.h>

// True when the file carries a valid Authenticode signature whose signer has the same subject name and the same
// public key as the running program's own signer. `candidate` is a handle to the file open for reading: the check
// reads the file through it, so it judges what that handle sees. An unsigned running program trusts nothing, and so
// does a Windows without the trust functions.
bool IsSignedBySamePublisher(const wchar_t *candidatePath, HANDLE candidate);
