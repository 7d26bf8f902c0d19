// Looks up several host names at once, each on a thread of its own, within one bound for them all.
#include "net/host_lookup.h"

#include <string.h>

#include "platform/owned_handle.h"

namespace {

const size_t kMaxHostName = 256;

// What one look-up's thread and its caller share; whichever lets go last frees it, so that a caller that stops
// waiting never pulls memory from under a look-up still running.
struct Lookup {
    volatile LONG holders;
    char host[kMaxHostName];
    HostAddresses result;
};

void LetGo(Lookup *lookup) {
    if (InterlockedDecrement(&lookup->holders) == 0)
        HeapFree(GetProcessHeap(), 0, lookup);
}

DWORD WINAPI LookUp(LPVOID parameter) {
    Lookup *lookup = static_cast<Lookup *>(parameter);
    {
        // A library of its own, since a caller that has stopped waiting may have shut its own down.
        const SocketLibrary library;
        if (library.Started())
            ResolveHost(lookup->host, &lookup->result);
    }
    LetGo(lookup);
    return 0;
}

} // namespace

void ResolveHosts(const char *const *hosts, int count, DWORD boundMs, HostAddresses *results) {
    count = count < kMaxLookups ? count : kMaxLookups;
    Lookup *lookups[kMaxLookups] = {};
    OwnedHandle threads[kMaxLookups];
    HANDLE running[kMaxLookups];
    int runningCount = 0;
    for (int i = 0; i < count; ++i) {
        results[i].count = 0;
        if (strlen(hosts[i]) >= kMaxHostName)
            continue;
        Lookup *lookup = static_cast<Lookup *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Lookup)));
        if (lookup == nullptr)
            continue;
        lookup->holders = 2;
        strcpy(lookup->host, hosts[i]);
        threads[i].Reset(CreateThread(nullptr, 0, LookUp, lookup, 0, nullptr));
        if (!threads[i].IsOpen()) {
            HeapFree(GetProcessHeap(), 0, lookup);
            continue;
        }
        lookups[i] = lookup;
        running[runningCount++] = threads[i].Get();
    }
    if (runningCount > 0)
        WaitForMultipleObjects(runningCount, running, TRUE, boundMs);
    for (int i = 0; i < count; ++i) {
        if (lookups[i] == nullptr)
            continue;
        // A thread that has ended has written its result for good.
        if (WaitForSingleObject(threads[i].Get(), 0) == WAIT_OBJECT_0)
            results[i] = lookups[i]->result;
        LetGo(lookups[i]);
    }
}
