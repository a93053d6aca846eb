// The nginx configuration of "scripts/channel serve": one server on loopback for a published
// channel folder, with every file nginx writes (pid, temporary bodies) in a run folder of its
// own and its logs in a folder outside the served one, so no system nginx service or
// root-owned state is touched and nothing a player sends ends up in the tree a CDN is given.
#pragma once
#include <string>

namespace studio {

struct NginxSite {
    std::string runDir;  // holds the configuration, the pid and nginx's temporary folders
    std::string root;    // the folder served (serve gives "/proc/self/fd/N": see serve_command.cpp)
    std::string logDir;  // access.log and reports.log; never inside root
    int port = 0;
    // The account nginx's workers take when it is started by root ("user" directive); empty
    // when it is not, and its workers run as whoever started it.
    std::string workerUser, workerGroup;
    std::string limitRate;  // nginx's limit_rate per connection ("2m": 2 MiB/s); empty: none
};

// Only the channel's paths are served; every other request is answered 404:
// - the configuration document, api/merth/ditches/<channel>/client_config_<channel>.php, as
//   plain text with "Cache-Control: no-cache" (a cache asks again at every request);
// - the packages, packages/<channel>/<code>_<version>_<16 hex digits>.zip, whose path names
//   their bytes, with "Cache-Control: public, max-age=31536000, immutable";
// - /api/laucher_info.php and /api/laucher_error.php answered 200 with "Cache-Control:
//   no-store", each request line appended to <logDir>/reports.log.
// Files come with nginx's ETag, Last-Modified, byte ranges and If-Range. No link below root is
// followed, and a file nginx may not open is answered 404 as well. Every other request is
// logged to <logDir>/access.log (request, status, body bytes sent, Range, If-Range, and the
// time it ended in seconds). Paths are quoted; they must not hold a double quote, a backslash
// or a "$".
std::string NginxConfig(const NginxSite& site);

// Why a path cannot stand in the configuration, or "".
std::string NginxPathProblem(const std::string& path);
// Why a rate is not one nginx takes (digits, optionally followed by k or m), or "".
std::string NginxRateProblem(const std::string& rate);

}  // namespace studio
