// What this process remembers of each time server's address: its last query and its kiss-o'-death.
#include "time/address_memory.h"

#include <stdint.h>

#include "time/sntp.h"

DWORD(WINAPI *g_addressClock)() = GetTickCount;

namespace {

// An address is kept as a hash of itself (never 0, the empty slot's value). A slot neither barred nor asked within
// the spacing remembers nothing that matters, and is taken for another address.
struct Remembered {
    uint32_t key;
    DWORD askedAt;
    DWORD kissedAt;
    int kiss;
};

SRWLOCK g_lock = SRWLOCK_INIT;
Remembered g_remembered[kRememberedAddresses];

bool Barred(const Remembered *slot, DWORD now) {
    return slot != nullptr &&
           (slot->kiss == kSntpDenied || (slot->kiss == kSntpRate && now - slot->kissedAt < kRateBackoffMs));
}

// Holds the lock and reads the clock under it, so that no thread's "now" is older than another's record.
class Locked {
public:
    Locked() { AcquireSRWLockExclusive(&g_lock); }
    Locked(const Locked &) = delete;
    Locked &operator=(const Locked &) = delete;
    ~Locked() { ReleaseSRWLockExclusive(&g_lock); }

    // The address's slot, else when `claim` a spare one made its own; null when it has none. A claimed slot has
    // not been asked within the spacing.
    Remembered *Find(uint32_t key, bool claim) const {
        Remembered *spare = nullptr;
        for (Remembered &slot : g_remembered) {
            if (slot.key == key)
                return &slot;
            // Empty slots first: a stale one still tells how long ago its address was asked.
            if (slot.key == 0 || (spare == nullptr && !Barred(&slot, now) && now - slot.askedAt >= kAddressSpacingMs))
                spare = &slot;
        }
        if (claim && spare != nullptr)
            *spare = Remembered{key, now - kAddressSpacingMs, 0, 0};
        return claim ? spare : nullptr;
    }

    const DWORD now = g_addressClock();
};

} // namespace

uint32_t AddressFingerprint(const SocketAddress &address, bool withPort) {
    const bool v6 = address.any.sa_family == AF_INET6;
    const unsigned char *bytes = v6 ? reinterpret_cast<const unsigned char *>(&address.v6.sin6_addr)
                                    : reinterpret_cast<const unsigned char *>(&address.v4.sin_addr);
    uint32_t hash =
        2166136261u ^ address.any.sa_family ^ (withPort ? static_cast<uint32_t>(address.v4.sin_port) << 16 : 0);
    for (size_t i = 0; i < (v6 ? sizeof address.v6.sin6_addr : sizeof address.v4.sin_addr); ++i)
        hash = (hash ^ bytes[i]) * 16777619u;
    return hash | 1;
}

int RememberAddress(const SocketAddress &address, int kiss) {
    const Locked locked;
    Remembered *slot = locked.Find(AddressFingerprint(address, false), true);
    // With no room, an address is asked as if new.
    if (slot == nullptr)
        return 1;
    if (kiss != 0) {
        if (slot->kiss != kSntpDenied) {
            slot->kiss = kiss;
            slot->kissedAt = locked.now;
        }
        return 0;
    }
    if (Barred(slot, locked.now))
        return 0;
    slot->askedAt = locked.now;
    return 1;
}

DWORD PrepareAddresses(HostAddresses *servers, int count) {
    const Locked locked;
    uint32_t listed[kRememberedAddresses];
    int listedCount = 0;
    DWORD wait = 0;
    for (HostAddresses *host = servers; host != servers + count; ++host) {
        const int given = host->count;
        host->count = 0;
        for (int i = 0; i < given; ++i) {
            const uint32_t key = AddressFingerprint(host->address[i], false);
            int earlier = 0;
            while (earlier < listedCount && listed[earlier] != key)
                ++earlier;
            if (earlier < listedCount)
                continue;
            const Remembered *slot = locked.Find(key, false);
            // Wraps past the spacing for an address asked longer ago.
            const DWORD left = slot != nullptr ? slot->askedAt + kAddressSpacingMs - locked.now : 0;
            if (left <= kAddressSpacingMs && left > wait)
                wait = left;
            listed[listedCount++] = key;
            host->address[host->count++] = host->address[i];
        }
    }
    return wait;
}
