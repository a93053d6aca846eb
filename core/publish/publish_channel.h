// Publishing a channel: a game tree becomes the folder a static web server serves at the
// channel's base URL: the package at its versioned path and the configuration document at the
// launcher's configuration path. Everything is written into a temporary folder beside OUT and
// moved into place by renames, the package before the document that names it, so OUT never
// holds half a file and a server never hands out a document whose package is missing.
#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "core/publish/package_writer.h"

namespace core {

struct PublishRequest {
    std::filesystem::path gameDir;
    std::filesystem::path outDir;
    std::string gameCode;
    std::string channel;
    std::string version;
    std::string miniVersion;  // empty: the version
    std::string baseUrl;
    std::optional<std::string> entryUrl;
    std::optional<std::string> customParameters;

    // Called while the package is written (packing) and while its digest is taken (hashing).
    std::function<void(const char* phase, const PackProgress&)> progress;
    // Called with the finished configuration document before it is written; may add to it.
    // False (with error set) stops the publish, writing nothing.
    std::function<bool(std::string& document, std::string& error)> amendDocument;
};

struct PublishSummary {
    std::size_t files = 0;
    std::size_t folders = 0;
    std::uint64_t bytes = 0;
    std::uint64_t packageBytes = 0;
    std::string sha256;
    std::string configPath;   // below OUT, "/" separated
    std::string packagePath;  // below OUT
    std::string configUrl;
    std::string packageUrl;
};

// Checks the request's values; "" when they can be published, else the message.
std::string PublishRequestProblem(const PublishRequest& request);

// Publishes; false with a message (naming the file where one is at fault) when the request,
// the tree or OUT cannot be used or writing fails. OUT is then as it was before.
bool PublishChannel(const PublishRequest& request, PublishSummary& summary, std::string& error);

}  // namespace core
