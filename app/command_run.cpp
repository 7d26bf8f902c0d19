// A run from the command line: a check or a set without a window, its texts to the standard output, an exit code.
#include "app/command_run.h"

#include "app/clock_tasks.h"
#include "platform/standard_output.h"
#include "time/clock_report.h"
#include "time/time_client.h"

namespace {

// A check or a set: its text, the line for scripts, and its exit code.
int RunClockCommand(const StandardOutput &output, bool sync) {
    const TimeServerNames names = ConfiguredServers();
    ClockReading reading;
    char report[kReportSize] = {};
    const char *text = report;
    int code;
    bool busy;
    if (sync) {
        const int result = g_timeClient.SetClockFromServer(&names, &reading);
        text = result == kSetDone          ? kTextSetDone
               : result == kSetNoPrivilege ? kTextSetNoPrivilege
               : result == kSetTooFar      ? kTextSetTooFar
                                           : kTextSetFailed;
        code = result == kSetDone ? kExitDone : kExitFailed;
        busy = result == kSetBusy;
    } else {
        const int result = g_timeClient.CheckClock(report, kReportSize, &names, &reading);
        // The report's own rule: off when it shows a second or more.
        code = ReportedSeconds(reading.offset) == 0 ? kExitDone : kExitOff;
        busy = result == kCheckBusy;
        if (result != kCheckDone) {
            text = kTextConnectFailed;
            reading.server = 0;
            code = kExitFailed;
        }
    }
    if (busy) {
        text = kTextClockBusy;
        code = kExitBusy;
    }
    output.WriteText(text);
    char line[kReportSize];
    char webHost[kHostNameSize];
    AssembleWebTimeHostName(reading.server - kTimeServerCount, webHost);
    FormatReadingLine(line, sizeof line,
                      reading.server > kTimeServerCount ? webHost
                      : reading.server > 0              ? names.host[reading.server - 1]
                                                        : nullptr,
                      reading.offset.milliseconds, reading.protocol);
    output.WriteText(line);
    return code;
}

int Usage(const StandardOutput &output, const CommandLine &command) {
    const bool bad = command.mode == CommandMode::kBadArgument;
    if (bad) {
        output.WriteText(kTextBadArgument, false);
        output.Write(command.badArgument);
        output.Write(L"\r\n");
    }
    output.WriteText(kUsage);
    return bad ? kExitBadArgument : kExitDone;
}

} // namespace

int RunCommandLine(const CommandLine &command) {
    StandardOutput output;
    output.Open();
    if (command.mode == CommandMode::kCheck || command.mode == CommandMode::kSync)
        return RunClockCommand(output, command.mode == CommandMode::kSync);
    return Usage(output, command);
}
