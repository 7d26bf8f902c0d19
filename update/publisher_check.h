// Whether a program file is signed by the same publisher as the running program.
#pragma once

// True when `candidate` carries a valid Authenticode signature and its signer's subject name equals that of the
// running program's own signer. An unsigned running program trusts nothing.
bool IsSignedBySamePublisher(const wchar_t *candidate);
