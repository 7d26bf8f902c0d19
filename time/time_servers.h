// The three Time Protocol servers and the orders in which the clock check and the clock set try them.
#pragma once

#include <stddef.h>

const int kTimeServerCount = 3;
const size_t kHostNameSize = 256;

extern const int kCheckOrder[kTimeServerCount];
extern const int kSetOrder[kTimeServerCount];

// Writes the host name of server 1, 2 or 3 into a kHostNameSize buffer, one character at a time, so that the names
// never stand in the program as plain text.
void AssembleTimeServerName(int server, char *name);
