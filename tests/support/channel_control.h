// Test-side client of the channel server's control endpoints: the tests put configuration
// documents, packages and faults in place over loopback HTTP before the code under test runs.
#pragma once
#include <string>

namespace testsupport {

class ChannelControl {
public:
    // From CHANNEL_SERVER_URL; empty base when the variable is not set.
    ChannelControl();

    bool Available() const { return !m_base.empty(); }
    const std::string& BaseUrl() const { return m_base; }
    std::string Url(const std::string& path) const { return m_base + path; }

    // Raw bytes of the configuration document.
    bool SetConfig(const std::string& body);
    // Serves the file at hostFilePath (as the server's machine names it) under urlPath.
    bool AddPackage(const std::string& urlPath, const std::string& hostFilePath);
    // faultJson: the fault fields, e.g. R"("drop_after": 500, "times": 1)".
    bool SetFault(const std::string& urlPath, const std::string& faultFields);
    // The faults of one path, or of every path when urlPath is empty.
    bool ClearFaults(const std::string& urlPath = {});
    // Forgets recorded requests and reports.
    bool ClearLogs();
    // The recorded requests as JSON text.
    std::string Requests();

private:
    bool Post(const std::string& name, const std::string& body, std::string* response = nullptr);
    std::string m_base;
};

}  // namespace testsupport
