// The command line for scripts: which switch was given, the exit codes, and the texts a run prints.
#include "app/command_line.h"

#include <inttypes.h>

#include "platform/format_text.h"

const char kUsage[] = "用法 Usage: Tempvaro.exe [/check | /sync | /?]\r\n"
                      "  /check  检查本机时间 check the clock\r\n"
                      "  /sync   设置本机时间 set the clock\r\n"
                      "退出码 Exit codes: 0 准确/已设置 right/set, 1 相差一秒以上 off by 1 s or more, 2 失败 failed, "
                      "3 忙 busy, 87 参数无效 bad argument";
const char kTextBadArgument[] = "参数无效 Invalid argument: ";
const char kTextSetNoPrivilege[] = "更新本机时间失败,没有设置系统时间的权限!";
const char kTextClockBusy[] = "另一个对时正在进行,请稍后再试!";

namespace {

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

// The next argument, without the quotes around any part of it, into argument; returns where the following one may
// start, or null when there is none.
const wchar_t *NextArgument(const wchar_t *text, wchar_t (&argument)[kArgumentSize]) {
    while (IsBlank(*text))
        ++text;
    if (*text == L'\0')
        return nullptr;
    int length = 0;
    bool quoted = false;
    for (; *text != L'\0' && (quoted || !IsBlank(*text)); ++text) {
        if (*text == L'"')
            quoted = !quoted;
        else if (length < kArgumentSize - 1)
            argument[length++] = *text;
    }
    argument[length] = L'\0';
    return text;
}

// ASCII letters only: a switch is ASCII, and anything else must stay unlike it.
bool IsSwitch(const wchar_t *argument, const char *name) {
    if (*argument != L'/' && *argument != L'-')
        return false;
    for (++argument; *name != '\0'; ++argument, ++name) {
        const wchar_t c = *argument >= L'A' && *argument <= L'Z' ? *argument - L'A' + L'a' : *argument;
        if (c != static_cast<wchar_t>(*name))
            return false;
    }
    return *argument == L'\0';
}

CommandMode SwitchMode(const wchar_t *argument) {
    if (IsSwitch(argument, "check"))
        return CommandMode::kCheck;
    if (IsSwitch(argument, "sync"))
        return CommandMode::kSync;
    if (IsSwitch(argument, "?") || IsSwitch(argument, "help"))
        return CommandMode::kUsage;
    return CommandMode::kBadArgument;
}

} // namespace

CommandLine ParseCommandLine(const wchar_t *commandLine) {
    CommandLine parsed = {CommandMode::kWindow, {}};
    wchar_t argument[kArgumentSize];
    // The program's name, as Windows splits it: up to the closing quote, or to the first blank.
    const wchar_t *rest = commandLine;
    if (*rest == L'"') {
        for (++rest; *rest != L'\0' && *rest != L'"'; ++rest) {
        }
        if (*rest == L'"')
            ++rest;
    } else {
        while (*rest != L'\0' && !IsBlank(*rest))
            ++rest;
    }
    while ((rest = NextArgument(rest, argument)) != nullptr) {
        const CommandMode mode = parsed.mode == CommandMode::kWindow ? SwitchMode(argument) : CommandMode::kBadArgument;
        if (mode == CommandMode::kBadArgument) {
            parsed.mode = mode;
            for (int i = 0; (parsed.badArgument[i] = argument[i]) != L'\0'; ++i) {
            }
            return parsed;
        }
        parsed.mode = mode;
    }
    return parsed;
}

void FormatReadingLine(char *text, size_t size, const char *server, int64_t offsetMs, TimeProtocol protocol) {
    if (server == nullptr)
        FormatText(text, size, "offset_ms= server= protocol=");
    else
        FormatText(text, size, "offset_ms=%" PRId64 " server=%s protocol=%s", offsetMs, server,
                   protocol == kProtocolSntp   ? "sntp"
                   : protocol == kProtocolHttp ? "http"
                                               : "time");
}
