#include "core/publish/channel_config.h"

#include <algorithm>
#include <cstdint>

namespace core {

namespace {

void AddLine(std::string& document, const char* key, const std::string& value)
{
    document += key;
    document += '=';
    document += value;
    document += '\n';
}

bool IsPrintableAscii(char c) { return c >= 0x20 && c <= 0x7E; }

}  // namespace

std::string ChannelConfigDocument(const ChannelRelease& release)
{
    std::string document;
    AddLine(document, "ClientVersion", release.version);
    AddLine(document, "ClientMiniUpdateVersion", release.miniVersion);
    AddLine(document, "ClientDownloadUrl", release.packageUrl);
    AddLine(document, "Client32DownloadUrl", release.packageUrl);
    if (release.entryUrl) AddLine(document, "EntryUrl", *release.entryUrl);
    if (release.customParameters) AddLine(document, "CustomParameters", *release.customParameters);
    AddLine(document, "ClientPackageSha256", release.packageSha256);
    AddLine(document, "ClientPackageSize", std::to_string(release.packageSize));
    return document;
}

std::uint64_t NextConfigSerial(const std::string& previousDocument, std::int64_t now)
{
    std::uint64_t next = now > 0 ? static_cast<std::uint64_t>(now) : 0;
    const std::string key = "ClientConfigSerial=";
    for (std::size_t start = 0; start < previousDocument.size();) {
        std::size_t end = previousDocument.find('\n', start);
        if (end == std::string::npos) end = previousDocument.size();
        if (previousDocument.compare(start, key.size(), key) == 0) {
            std::size_t digitsEnd = end;
            if (digitsEnd > start && previousDocument[digitsEnd - 1] == '\r') --digitsEnd;
            const std::string digits = previousDocument.substr(start + key.size(), digitsEnd - start - key.size());
            if (!digits.empty() && digits.size() <= 18 && digits.find_first_not_of("0123456789") == std::string::npos)
                next = std::max<std::uint64_t>(next, std::stoull(digits) + 1);
            break;
        }
        start = end + 1;
    }
    return next;
}

std::string SignedDocumentLines(std::uint64_t serial, const std::optional<std::int64_t>& expires)
{
    std::string lines;
    AddLine(lines, "ClientConfigSerial", std::to_string(serial));
    if (expires) AddLine(lines, "ClientConfigExpires", std::to_string(*expires));
    return lines;
}

std::string ConfigDocumentPath(const std::string& channel)
{
    return "api/merth/ditches/" + channel + "/client_config_" + channel + ".php";
}

std::string PackagePath(const std::string& channel, const std::string& gameCode, const std::string& version,
                        const std::string& sha256)
{
    return "packages/" + channel + "/" + gameCode + "_" + version + "_" + sha256.substr(0, 16) + ".zip";
}

std::string VersionProblem(const std::string& version)
{
    const std::string form = "\"" + version + "\" is not a version of four numbers such as 1.0.3.7";
    int parts = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = version.find('.', start);
        const std::string part = version.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (part.empty() || part.size() > 10 || part.find_first_not_of("0123456789") != std::string::npos) return form;
        if (std::stoll(part) > INT32_MAX) return form + " (each number at most " + std::to_string(INT32_MAX) + ")";
        ++parts;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return parts == 4 ? "" : form;
}

std::string CodeProblem(const std::string& code)
{
    if (code.empty()) return "is empty";
    for (char c : code) {
        const bool fits = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
        if (!fits) return "\"" + code + "\" may hold only letters, digits, \"-\" and \"_\"";
    }
    return "";
}

std::string BaseUrlProblem(const std::string& url)
{
    if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0)
        return "\"" + url + "\" does not start with http:// or https://";
    for (char c : url) {
        if (!IsPrintableAscii(c) || c == ' ') return "\"" + url + "\" holds a blank or a character outside printable ASCII";
        if (c == '{' || c == '}') return "\"" + url + "\" holds \"{\" or \"}\", which the launcher would fill in";
        if (c == '?' || c == '#') return "\"" + url + "\" has a query or fragment; give the folder's URL";
    }
    return "";
}

std::string ValueProblem(const std::string& value)
{
    for (char c : value)
        if (!IsPrintableAscii(c))
            return "holds a character outside printable ASCII (the launcher reads the document in the player's "
                   "code page, and a line break would cut it)";
    return "";
}

}  // namespace core
