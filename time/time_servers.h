// The three time servers, built in or named by the user, and the orders in which the clock check and the clock set try
// them.
#pragma once

#include <stddef.h>

const int kTimeServerCount = 3;
const size_t kHostNameSize = 256;

extern const int kCheckOrder[kTimeServerCount];
extern const int kSetOrder[kTimeServerCount];

// Writes the host name of server 1, 2 or 3 into a kHostNameSize buffer, one character at a time, so that the names
// never stand in the program as plain text.
void AssembleTimeServerName(int server, char *name);

// The built-in web hosts whose Date header is read when every time server has failed.
const int kWebTimeHostCount = 2;
// As AssembleTimeServerName, for web host 1 or 2.
void AssembleWebTimeHostName(int host, char *name);

// The host names of servers 1, 2 and 3, in that order.
struct TimeServerNames {
    char host[kTimeServerCount][kHostNameSize];
};

// Letters, digits, hyphens and dots, in labels of 1 to 63 characters, at most 253 in all; or such a name after
// "http://" (in any case), which names a web server whose Date header is read.
bool IsValidHostName(const char *name);

// The host after a name's "http://", or null when it has none.
const char *WebHostName(const char *name);

// Writes `configured` into name when it is a valid host name, otherwise the built-in name of server 1, 2 or 3.
void ChooseTimeServerName(int server, const char *configured, char *name);

// What a name typed for a slot comes to.
enum class TypedServerName { kNotAHostName, kBuiltIn, kOwn };

// Writes the name typed for server 1, 2 or 3 into name (kHostNameSize bytes) without the blanks around it. An empty
// text, or the slot's own built-in name in any case, is kBuiltIn, so that the settings file keeps only what the user
// chose and a later change of the built-in names reaches every slot left to them.
TypedServerName ReadTypedServerName(int server, const char *typed, char *name);
