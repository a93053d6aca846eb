// The nginx configuration of "scripts/channel serve": one server on loopback for a published
// channel folder, with every file nginx writes (pid, temporary bodies) in a run folder of its
// own, so no system nginx service or root-owned state is touched.
#pragma once
#include <string>

namespace studio {

struct NginxSite {
    std::string runDir;  // holds the configuration, the pid and nginx's temporary folders
    std::string root;    // the folder served: a link in runDir to the published folder
    int port = 0;
    bool asRoot = false;  // started by root: the workers keep root's rights to read the folder
    std::string limitRate;  // nginx's limit_rate per connection ("2m": 2 MiB/s); empty: none
};

// Static files with nginx's ETag, Last-Modified, byte ranges and If-Range; the configuration
// document (".php") as plain text; the two report paths answered 200 with each request line
// appended to <root>/logs/reports.log; every other request logged to <root>/logs/access.log
// (request, status, body bytes sent, Range, If-Range, and the time it ended in seconds);
// the logs folder and dot files never served. Paths are quoted; runDir and root must not
// hold a double quote, a backslash or a "$".
std::string NginxConfig(const NginxSite& site);

// Why a path cannot stand in the configuration, or "".
std::string NginxPathProblem(const std::string& path);
// Why a rate is not one nginx takes (digits, optionally followed by k or m), or "".
std::string NginxRateProblem(const std::string& rate);

}  // namespace studio
