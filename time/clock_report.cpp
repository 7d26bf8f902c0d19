// The one-line clock report and the status texts that the clock tasks show.
#include "time/clock_report.h"

#include "platform/format_text.h"

const char kTextConnecting[] = "正在连接时间服务器......";
const char kTextConnectFailed[] = "连接时间服务器失败,请检查网络!";
const char kTextSetting[] = "更新本机时间...";
const char kTextSetDone[] = "成功更新本机时间";
const char kTextSetAccurate[] = "时间准确";
const char kTextSetFailed[] = "更新本机时间失败!";

namespace {

const char kReportAccurate[] = "时间准确！";
const char kReportFast[] = "本机时间快了%u年%u月%u日%u时%u分%u秒";
const char kReportSlow[] = "本机时间慢了%u年%u月%u日%u时%u分%u秒";

// Each slot is shown as an unsigned 16-bit number.
unsigned Slot(int16_t value) {
    return static_cast<uint16_t>(value);
}

} // namespace

void FormatClockReport(int comparison, const TimeDifference &diff, char *text, size_t size) {
    if (comparison == kClockAccurate) {
        FormatText(text, size, "%s", kReportAccurate);
        return;
    }
    FormatText(text, size, comparison == kClockAhead ? kReportFast : kReportSlow, Slot(diff.wYear), Slot(diff.wMonth),
               Slot(diff.wDay), Slot(diff.wHour), Slot(diff.wMinute), Slot(diff.wSecond));
}

void ReportClocks(CivilTime machine, CivilTime server, char *text, size_t size) {
    TimeDifference diff = {};
    // After the comparison the first record holds the later time, whichever clock that was.
    const int comparison = CompareClocks(machine, server);
    if (comparison != kClockAccurate)
        ClockDifference(machine, server, diff);
    FormatClockReport(comparison, diff, text, size);
}

void FormatClockFace(const CivilTime &time, char *text, size_t size) {
    FormatText(text, size, "%d-%02d-%02d %02d:%02d:%02d", time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute,
               time.wSecond);
}
