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
// baidu and qq, of www.baidu.com and www.qq.com.
const int kWebHost1[] = {98, 97, 105, 100, 117, 0};
const int kWebHost2[] = {113, 113, 0};
const int *const kWebHosts[kWebTimeHostCount] = {kWebHost1, kWebHost2};

void AssembleName(const int *codes, char *name) {
    size_t length = 0;
    for (const int *code = codes; *code != 0 && length + 1 < kHostNameSize; ++code) {
        const int written = FormatText(name + length, kHostNameSize - length, "%c", *code);
        if (written <= 0)
            break;
        length += static_cast<size_t>(written);
    }
}

const char kWebPrefix[] = "http://";

char LowerCase(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

void AssembleTimeServerName(int server, char *name) {
    name[0] = '\0';
    if (server >= 1 && server <= kTimeServerCount)
        AssembleName(kServers[server - 1], name);
}

void AssembleWebTimeHostName(int host, char *name) {
    name[0] = '\0';
    if (host < 1 || host > kWebTimeHostCount)
        return;
    char middle[kHostNameSize];
    AssembleName(kWebHosts[host - 1], middle);
    FormatText(name, kHostNameSize, "www.%s.com", middle);
}

const char *WebHostName(const char *name) {
    for (size_t i = 0; kWebPrefix[i] != '\0'; ++i)
        if (LowerCase(name[i]) != kWebPrefix[i])
            return nullptr;
    return name + sizeof kWebPrefix - 1;
}

namespace {

const size_t kMaxHostName = 253;
const size_t kMaxLabel = 63;

bool IsHostCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

} // namespace

bool IsValidHostName(const char *name) {
    const char *host = WebHostName(name);
    name = host != nullptr ? host : name;
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

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsSameHostName(const char *one, const char *other) {
    for (; *one != '\0' && LowerCase(*one) == LowerCase(*other); ++one, ++other) {
    }
    return *one == '\0' && *other == '\0';
}

} // namespace

TypedServerName ReadTypedServerName(int server, const char *typed, char *name) {
    while (IsBlank(*typed))
        ++typed;
    size_t length = strlen(typed);
    while (length > 0 && IsBlank(typed[length - 1]))
        --length;
    name[0] = '\0';
    if (length >= kHostNameSize)
        return TypedServerName::kNotAHostName;
    memcpy(name, typed, length);
    name[length] = '\0';
    if (length == 0)
        return TypedServerName::kBuiltIn;
    if (!IsValidHostName(name))
        return TypedServerName::kNotAHostName;
    char builtIn[kHostNameSize];
    AssembleTimeServerName(server, builtIn);
    return IsSameHostName(name, builtIn) ? TypedServerName::kBuiltIn : TypedServerName::kOwn;
}
