// The user the program runs as, read from its token: one copy for every rule that trusts that user.
#pragma once

#include <windows.h>

#include "platform/owned_handle.h"

union ProcessUser {
    TOKEN_USER info;
    BYTE room[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
};

// Not inlined: each caller shares the one copy.
__attribute__((noinline)) inline bool ReadProcessUser(ProcessUser &user) {
    OwnedHandle token;
    DWORD size = 0;
    return OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Out()) &&
           GetTokenInformation(token.Get(), TokenUser, &user, sizeof user, &size);
}
