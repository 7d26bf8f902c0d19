// The three time servers, built in or named by the user, and the orders in which the clock check and the clock set try
// them.
#include "time/time_servers.h"

#include <string.h>

#include "platform/format_text.h"

const int kCheckOrder[kTimeServerCount] = {1, 2, 3};
const int kSetOrder[kTimeServerCount] = {3, 1, 2};

namespace {

// time.nist.gov, time-a-g.nist.gov, time-b-g.nist.gov as character codes. Integers, not bytes: a byte array would
// stand in the program as the plain text it spells.
const int kServer1[] = {116, 105, 109, 101, 46, 110, 105, 115, 116, 46, 103, 111, 118, 0};
const int kServer2[] = {116, 105, 109, 101, 45, 97, 45, 103, 46, 110, 105, 115, 116, 46, 103, 111, 118, 0};
const int kServer3[] = {116, 105, 109, 101, 45, 98, 45, 103, 46, 110, 105, 115, 116, 46, 103, 111, 118, 0};
const int *const kServers[kTimeServerCount] = {kServer1, kServer2, kServer3};

} // namespace

void AssembleTimeServerName(int server, char *name) {
    name[0] = '\0';
    if (server < 1 || server > kTimeServerCount)
        return;
    size_t length = 0;
    for (const int *code = kServers[server - 1]; *code != 0 && length + 1 < kHostNameSize; ++code) {
        const int written = FormatText(name + length, kHostNameSize - length, "%c", *code);
        if (written <= 0)
            break;
        length += static_cast<size_t>(written);
    }
}

namespace {

const size_t kMaxHostName = 253;
const size_t kMaxLabel = 63;

bool IsHostCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

} // namespace

bool IsValidHostName(const char *name) {
    size_t length = 0;
    size_t label = 0;
    for (; name[length] != '\0'; ++length) {
        if (length == kMaxHostName)
            return false;
        if (name[length] == '.') {
            if (label == 0)
                return false;
            label = 0;
        } else if (!IsHostCharacter(name[length]) || ++label > kMaxLabel) {
            return false;
        }
    }
    return label > 0;
}

void ChooseTimeServerName(int server, const char *configured, char *name) {
    if (IsValidHostName(configured))
        FormatText(name, kHostNameSize, "%s", configured);
    else
        AssembleTimeServerName(server, name);
}
