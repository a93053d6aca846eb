// The configuration document of a published channel, in the form the launcher's parser reads:
// lines of key "=" value, each ended by one LF, nothing trimmed, the first line of a key
// counting. The launcher decodes the body in the player's ANSI code page, so values are
// printable ASCII; a CR or LF inside one would cut it.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace core {

struct ChannelRelease {
    std::string version;      // "ClientVersion"
    std::string miniVersion;  // "ClientMiniUpdateVersion"
    std::string packageUrl;   // "ClientDownloadUrl" and "Client32DownloadUrl"
    std::optional<std::string> entryUrl;          // "EntryUrl"
    std::optional<std::string> customParameters;  // "CustomParameters"
    std::string packageSha256;  // "ClientPackageSha256", lower-case hex
    std::uint64_t packageSize = 0;  // "ClientPackageSize", in bytes
};

// The whole document as the bytes to serve. Everything that writes a configuration document
// goes through here, so a later step (a signature, say) can add to exactly these bytes.
std::string ChannelConfigDocument(const ChannelRelease& release);

// The serial of a signed document published now (Unix seconds): one above the serial of the
// document published before into the same folder (previousDocument, "" when none), and never
// below the publication time, so documents published from another folder or machine with a
// clock that is right still follow the ones before them.
std::uint64_t NextConfigSerial(const std::string& previousDocument, std::int64_t now);

// The lines a signed document carries after the release's: "ClientConfigSerial" and, when
// given, "ClientConfigExpires" (Unix seconds).
std::string SignedDocumentLines(std::uint64_t serial, const std::optional<std::int64_t>& expires);

// Where a static server keeps the document of a channel: the path of the launcher's
// configuration URL, without its leading "/".
std::string ConfigDocumentPath(const std::string& channel);

// The package's path below the served folder: versioned and named after its digest, so a
// path, once published, always holds the same bytes and a CDN may keep it for ever.
std::string PackagePath(const std::string& channel, const std::string& gameCode, const std::string& version,
                        const std::string& sha256);

// Checks of the publisher's inputs; each returns why the value cannot be used, or "".
// A version: four decimal numbers joined by dots, each within a signed 32-bit number.
std::string VersionProblem(const std::string& version);
// A game or channel code: it names folders, files and URL paths, so letters, digits, "-", "_".
std::string CodeProblem(const std::string& code);
// The base URL of the served folder: http:// or https://, printable ASCII without blanks and
// without "{" or "}" (the launcher fills "{version}" and "{ditch_name}" into the package URL).
std::string BaseUrlProblem(const std::string& url);
// A value of the document: printable ASCII, so it reads the same in every ANSI code page.
std::string ValueProblem(const std::string& value);

}  // namespace core
