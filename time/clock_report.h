// The one-line clock report and the status texts that the clock tasks show.
#pragma once

#include <stddef.h>

#include "time/calendar.h"

// Room for the report and the status texts, with the terminating zero.
const int kReportSize = 256;

extern const char kTextConnecting[];
extern const char kTextConnectFailed[];
extern const char kTextSetting[];
extern const char kTextSetDone[];
extern const char kTextSetAccurate[];
extern const char kTextSetFailed[];

// Writes the report for a comparison result and its difference into text (always zero-terminated).
void FormatClockReport(int comparison, const TimeDifference &diff, char *text, size_t size);

// The report for the machine's clock against the server's, both read in the same zone.
void ReportClocks(CivilTime machine, CivilTime server, char *text, size_t size);

// The clock pane's text, for example 2014-03-05 07:08:09.
void FormatClockFace(const CivilTime &time, char *text, size_t size);
