// The resume record "tempdownload.dat" in the install directory: which package version is
// being fetched, how many of its bytes are on disk and its full size, as three LF-ended lines.
#pragma once
#include <cstdint>
#include <string>

#include "core/update/update_context.h"

namespace core {

// "downloadVersion=<v>\noffset=<n>\ntotalSize=<n>\n"; versionText in the ANSI code page. A
// package validator that fits a record line follows as "validator=<text>\n", a line that
// readers of the three fields skip.
std::string FormatResumeRecord(const std::string& versionText, std::int64_t offset, std::int64_t total,
                               const std::string& validator = {});
// Whether a validator can be kept in the record: it fits a line and holds no line end.
bool ValidatorFitsRecord(const std::string& validator);

// The value of key in the record's text as a text-mode read sees it (CR before LF dropped):
// the first line whose part before "=" (the whole line without "=") equals the key gives the
// part after it. Lines are read into 100 bytes: a line of 100 characters or more ends the
// search. "" when nothing matched.
std::string FindResumeField(const std::string& content, const std::string& key);

std::wstring ResumeRecordFile(UpdateContext& ctx);

// Writes the record from the current values in one piece; silent when it cannot be written.
void WriteResumeRecord(UpdateContext& ctx);

// The same record written beside it and then put in its place, so a process killed at any
// moment leaves the old record or the new one, never a cut one. False when it failed.
bool ReplaceResumeRecord(UpdateContext& ctx);

// The field's value from the file, "" when the file cannot be read or has no such key.
std::string ReadResumeField(UpdateContext& ctx, const std::string& key);

// Reads "offset" and "totalSize" into the resume values (the offset into both
// downloadOffset and resumeFrom), and the package validator.
void LoadResumeOffsets(UpdateContext& ctx);

// Reads "downloadVersion" (ANSI text) into downloadVersion, logging the parse.
void LoadResumeVersion(UpdateContext& ctx);

}  // namespace core
