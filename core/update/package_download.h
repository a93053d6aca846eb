// Bringing the game package into the install directory: resume, reuse of a complete package on
// disk, or a fresh transfer, then extraction.
#pragma once
#include <curl/curl.h>

#include <cstddef>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "core/update/update_context.h"

namespace core {

std::wstring PackageFile(UpdateContext& ctx);

// True when a package was installed (just fetched, or already complete on disk); false on any
// failure, after the failure was shown and logged.
bool OnDownLoad(UpdateContext& ctx);

// The package file's stdio buffer, in memory of our own: handed no memory, glibc's setvbuf
// keeps its default buffer of a few KiB whatever size is asked for, and every few KiB of the
// package would then cost a write to the system. Must outlive the FILE it serves.
class PackageWriteBuffer {
public:
    static constexpr std::size_t kBytes = 256 * 1024;
    // Makes this the full buffer of file, which nothing has been written to yet.
    bool Attach(std::FILE* file);

private:
    std::unique_ptr<char[]> m_bytes{new char[kBytes]};
};

struct TransferOutcome {
    CURLcode result;
    long httpStatus;  // 0 when there was no answer
    // The package is not the one the partial download began: the resumed request's If-Range
    // did not match (a whole 200 came back), or the 206's total differs from the recorded one.
    bool packageChanged = false;
    // The answer would have made the package longer than its signed size, or a 206 stated
    // another total: the transfer stopped before writing a byte past that size.
    bool pastSignedSize = false;
};

// Runs the package transfer on an easy handle into the open file, from ctx.state.resumeFrom on,
// with the progress callback keeping the resume values and the window current. With a
// signedSize of 0 or more, the package never grows past it.
TransferOutcome TransferPackage(UpdateContext& ctx, CURL* curl, const std::string& ansiUrl, std::FILE* file,
                                std::int64_t signedSize = -1);

// True for the answers whose body is the package (or the rest of it).
bool IsPackageAnswer(long httpStatus);

// The headers of the answer being received (each answer of a redirect chain starts afresh).
struct AnswerHeaders {
    long status = 0;
    std::string etag, lastModified;
    std::int64_t rangeTotal = -1;  // the total of "Content-Range: bytes a-b/total", -1 without
};

// What identifies the package of an answer for a later If-Range: its ETag when that is a strong
// one, else its Last-Modified, else nothing. If-Range compares strongly, so a weak ETag (W/"…")
// would never match and every resume would fetch the whole package again.
std::string PackageValidator(const AnswerHeaders& answer);
// Whether a validator (a recorded one may come from an older launcher) can be sent in If-Range.
bool UsableInIfRange(const std::string& validator);

// Where the write callback puts the body: the open package file, with the headers of the answer
// the body belongs to. A resumed transfer also checks that the answer is about the package it
// began with.
struct PackageSink {
    std::FILE* file;
    UpdateContext* ctx = nullptr;
    std::int64_t expectedTotal = 0;  // the recorded total a 206 must state (resumed transfers)
    AnswerHeaders answer;
    bool packageChanged = false;
    // A launcher with channel keys: the package's signed length (-1: none), the offset the
    // transfer writes from, what it wrote, and whether the answer went past that length.
    std::int64_t signedSize = -1;
    std::int64_t startOffset = 0;
    std::int64_t written = 0;
    bool pastSignedSize = false;
};

// libcurl header callback; target is the transfer's PackageSink. Keeps the answer's status,
// validator and range total; at the end of a package answer's headers, a fresh transfer keeps
// its validator for the record, and a resumed one refuses a 206 with another total (another
// than the recorded one, or than the signed size).
std::size_t OnPackageHeader(char* data, std::size_t size, std::size_t count, void* target);

// libcurl write callback; target is the transfer's PackageSink. Writes into the package file;
// 0 (which ends the transfer) without one, for the body of any other answer than 200 or 206
// (an error page must never become part of the package), and for bytes that would take the
// package past its signed size (an answer that never ends must not fill the disk).
std::size_t OnPackageData(char* data, std::size_t size, std::size_t count, void* target);

// What the transfer-information callback keeps from one call to the next of a transfer.
struct TransferProgress {
    UpdateContext& ctx;
    const PackageSink* sink;    // the answer being received; none: no answer yet
    std::FILE* file = nullptr;  // the package file, flushed before the record counts its bytes
    int shownPercent = -1;      // the percent the window shows; -1 before the transfer's first call
    std::int64_t recordedOffset = -1;  // the offset of the last record written during the transfer
    std::chrono::steady_clock::time_point recordedAt{};
};

// While a transfer runs the resume record is kept current as well (the record written at close
// stays), so a launcher that is killed, crashes or loses power resumes from what reached the
// disk: first when the answer has stated the package's length and its first bytes have
// arrived, then whenever both this many more
// bytes and this much time have passed. Each write replaces the record in one step.
constexpr std::int64_t kRecordEveryBytes = 8 * 1024 * 1024;
constexpr std::chrono::seconds kRecordEvery{2};

// libcurl transfer-information callback; target is the transfer's TransferProgress. Keeps the
// resume values current while a 200 or 206 answer arrives (before any answer libcurl reports a
// total of 0, and an error page's length is not the package's: neither may reach the resume
// record), and shows the percent of the whole package when it changes. Ends the transfer (a
// failed download) for lengths beyond what the figures can carry; otherwise 0.
int OnTransferProgress(void* target, curl_off_t totalToDownload, curl_off_t downloadedNow, curl_off_t totalToUpload,
                       curl_off_t uploadedNow);

}  // namespace core
