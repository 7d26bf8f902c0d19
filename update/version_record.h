// Reads a program file's version record, the VS_VERSIONINFO bytes of its RT_VERSION resource.
#pragma once

#include <stddef.h>

// True when `record` (size bytes) is a well-formed version record whose fixed file version is build `build` (above 0;
// build 31 is 3.1.0.0, as res/version.rc writes it) and which names `originalName` as its OriginalFilename, in every
// string table that names one and in at least one. Every block's length is checked against the block it lies in; a
// record that lies about one is no record.
bool IsVersionRecordOf(const unsigned char *record, size_t size, int build, const char *originalName);
