// What this process remembers of each time server's address: when it was last asked, and whether a kiss-o'-death
// bars it. Shared by every worker thread.
#pragma once

#include <winsock2.h>
#include <stdint.h>

#include "net/socket_support.h"

// No address is asked twice within this, by either protocol: NIST's 4 s, with a clock tick to spare.
const DWORD kAddressSpacingMs = 4050;
// An address that answered with a kiss-o'-death RATE is not asked again for this long, the automatic set's retry.
const DWORD kRateBackoffMs = 300000;
// Room for every address of the three servers.
const int kRememberedAddresses = kMaxHostAddresses * 3;

// The memory's clock in milliseconds, read only in differences, which its wrap cannot bend: GetTickCount, unless a
// test puts its own.
extern DWORD(WINAPI *g_addressClock)();

// A hash of the address's family and bytes (and its port, when `withPort`), never 0.
uint32_t AddressFingerprint(const SocketAddress &address, bool withPort);

// Notes a query about to go to the address and returns 1, or returns 0 when a kiss-o'-death bars the address
// (`kiss` 0); or notes a kiss-o'-death from it (`kiss` an SntpVerdict): kSntpRate bars it for kRateBackoffMs,
// kSntpDenied for good.
int RememberAddress(const SocketAddress &address, int kiss);
inline bool ClaimQuery(const SocketAddress &address) {
    return RememberAddress(address, 0) != 0;
}
// Readies the servers' addresses (of at most three servers) for one operation: drops those already listed before
// them, so that names resolving to one address are one server. Returns how long to wait until none of the rest has
// been asked within kAddressSpacingMs. An address is its family and bytes, whatever its port.
DWORD PrepareAddresses(HostAddresses *servers, int count);
