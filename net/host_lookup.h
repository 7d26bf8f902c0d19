// Looks up several host names at once, each on a thread of its own, within one bound for them all.
#pragma once

#include <windows.h>

#include "net/socket_support.h"

// Names are looked up within this, whoever asks: the time servers together before a measurement, a web host.
const DWORD kLookupBoundMs = 3000;
// At most this many names at once.
const int kMaxLookups = 3;

// Resolves each of `count` hosts (at most kMaxLookups) into results[i], waiting at most boundMs for them all. A name
// not resolved by then has no addresses; its look-up finishes on its own thread and frees what it holds.
void ResolveHosts(const char *const *hosts, int count, DWORD boundMs, HostAddresses *results);
