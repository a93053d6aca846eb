#include "core/update/resume_record.h"

#include <cstdio>
#include <limits>
#include <memory>

#include "core/update/client_version.h"
#include "core/update/version_record.h"

namespace core {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

constexpr std::size_t kLineBuffer = 100;       // bytes, terminator included
constexpr std::size_t kMaxRecordBytes = 64 * 1024;  // a real record is under 100 bytes

std::int64_t ToInt64(const std::string& text)
{
    return ParseLeadingInteger(text, std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max());
}

}  // namespace

std::string FormatResumeRecord(const std::string& versionText, std::int64_t offset, std::int64_t total,
                               const std::string& validator)
{
    std::string text = "downloadVersion=" + versionText + "\noffset=" + std::to_string(offset) + "\ntotalSize=" +
                       std::to_string(total) + "\n";
    if (!validator.empty() && ValidatorFitsRecord(validator)) text += "validator=" + validator + "\n";
    return text;
}

bool ValidatorFitsRecord(const std::string& validator)
{
    return std::string("validator=").size() + validator.size() < kLineBuffer &&
           validator.find_first_of("\r\n") == std::string::npos;
}

std::string FindResumeField(const std::string& content, const std::string& key)
{
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t lf = content.find('\n', start);
        const std::size_t end = lf == std::string::npos ? content.size() : lf;
        std::string line = content.substr(start, end - start);
        // A text-mode read turns CR LF into LF.
        if (lf != std::string::npos && !line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() >= kLineBuffer) return "";
        const std::size_t eq = line.find('=');
        const std::string lineKey = eq == std::string::npos ? line : line.substr(0, eq);
        if (lineKey == key) return eq == std::string::npos ? line : line.substr(eq + 1);
        if (lf == std::string::npos) break;
        start = lf + 1;
    }
    return "";
}

std::wstring ResumeRecordFile(UpdateContext& ctx) { return ctx.host.JoinPath(ctx.paths.installDir, L"tempdownload.dat"); }

namespace {
bool WriteRecordTo(UpdateContext& ctx, const std::wstring& path)
{
    std::unique_ptr<std::FILE, FileCloser> file(ctx.host.OpenFile(path, "wb"));
    if (!file) return false;
    const std::string text =
        FormatResumeRecord(ctx.host.ToAnsi(FormatClientVersion(ctx.state.downloadVersion)),
                           ctx.state.downloadOffset.load(), ctx.state.downloadTotal.load(),
                           ctx.state.packageValidator.Get());
    const bool written = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
    return std::fclose(file.release()) == 0 && written;
}
}  // namespace

void WriteResumeRecord(UpdateContext& ctx) { WriteRecordTo(ctx, ResumeRecordFile(ctx)); }

bool ReplaceResumeRecord(UpdateContext& ctx)
{
    const std::wstring record = ResumeRecordFile(ctx);
    const std::wstring fresh = record + L".new";
    if (!WriteRecordTo(ctx, fresh) || !ctx.host.RenameOver(fresh, record)) {
        ctx.host.RemoveFile(fresh);
        return false;
    }
    return true;
}

std::string ReadResumeField(UpdateContext& ctx, const std::string& key)
{
    std::unique_ptr<std::FILE, FileCloser> file(ctx.host.OpenFile(ResumeRecordFile(ctx), "rb"));
    if (!file) return "";
    std::string content;
    char buf[4096];
    std::size_t got;
    while (content.size() < kMaxRecordBytes && (got = std::fread(buf, 1, sizeof buf, file.get())) > 0)
        content.append(buf, got);
    return FindResumeField(content, key);
}

void LoadResumeOffsets(UpdateContext& ctx)
{
    const std::int64_t offset = ToInt64(ReadResumeField(ctx, "offset"));
    ctx.state.downloadOffset = offset;
    ctx.state.resumeFrom = offset;
    ctx.state.downloadTotal = ToInt64(ReadResumeField(ctx, "totalSize"));
    ctx.state.packageValidator.Set(ReadResumeField(ctx, "validator"));
}

void LoadResumeVersion(UpdateContext& ctx)
{
    ctx.state.downloadVersion = CStringToLocalClientVersion(ctx, ctx.host.FromAnsi(ReadResumeField(ctx, "downloadVersion")));
}

}  // namespace core
