// A run from the command line: a check or a set without a window, its texts to the standard output, an exit code.
#include "app/command_run.h"

#include "app/clock_tasks.h"
#include "platform/standard_output.h"
#include "time/clock_report.h"
#include "time/time_client.h"

namespace {

void WriteReading(const StandardOutput &output, const TimeServerNames &names, const ClockReading &reading,
                  bool answered) {
    char line[kReportSize];
    FormatReadingLine(line, sizeof line, answered && reading.server > 0 ? names.host[reading.server - 1] : nullptr,
                      reading.offset.milliseconds, reading.sntp);
    output.WriteText(line);
}

int Check(const StandardOutput &output) {
    const TimeServerNames names = ConfiguredServers();
    ClockReading reading;
    char report[kReportSize] = {};
    const bool answered = g_timeClient.CheckClock(report, kReportSize, &names, &reading) != 0;
    output.WriteText(answered ? report : kTextConnectFailed);
    WriteReading(output, names, reading, answered);
    if (!answered)
        return kExitFailed;
    // The report's own rule: off when it shows a second or more.
    return ReportedSeconds(reading.offset) == 0 ? kExitDone : kExitOff;
}

int Sync(const StandardOutput &output) {
    const TimeServerNames names = ConfiguredServers();
    ClockReading reading;
    const int result = g_timeClient.SetClockFromServer(&names, &reading);
    output.WriteText(result == kSetDone          ? kTextSetDone
                     : result == kSetNoPrivilege ? kTextSetNoPrivilege
                                                 : kTextSetFailed);
    WriteReading(output, names, reading, true);
    return result == kSetDone ? kExitDone : kExitFailed;
}

int Usage(const StandardOutput &output, const CommandLine &command) {
    const bool bad = command.mode == CommandMode::kBadArgument;
    if (bad) {
        output.WriteText(kTextBadArgument, false);
        output.Write(command.badArgument);
        output.Write(L"\r\n");
    }
    for (int line = 0; line < kUsageLineCount; ++line)
        output.WriteText(kUsageLines[line]);
    return bad ? kExitBadArgument : kExitDone;
}

} // namespace

int RunCommandLine(const CommandLine &command) {
    StandardOutput output;
    output.Open();
    switch (command.mode) {
    case CommandMode::kCheck:
        return Check(output);
    case CommandMode::kSync:
        return Sync(output);
    default:
        return Usage(output, command);
    }
}
