#include "tests/support/channel_control.h"

#include <curl/curl.h>

#include <cstdlib>
#include <memory>

namespace testsupport {

namespace {

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* target)
{
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

struct CurlCleanup {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};

std::string JsonQuoted(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

ChannelControl::ChannelControl()
{
    if (const char* url = std::getenv("CHANNEL_SERVER_URL")) m_base = url;
}

bool ChannelControl::Post(const std::string& name, const std::string& body, std::string* response)
{
    std::unique_ptr<CURL, CurlCleanup> curl(curl_easy_init());
    if (!curl || m_base.empty()) return false;
    std::string sink;
    const std::string url = m_base + "/_control/" + name;
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, response ? response : &sink);
    long status = 0;
    const bool ok = curl_easy_perform(curl.get()) == CURLE_OK &&
                    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status == 200;
    return ok;
}

bool ChannelControl::SetConfig(const std::string& body) { return Post("config", body); }

bool ChannelControl::AddPackage(const std::string& urlPath, const std::string& hostFilePath)
{
    return Post("package", "{\"path\": " + JsonQuoted(urlPath) + ", \"file\": " + JsonQuoted(hostFilePath) + "}");
}

bool ChannelControl::SetFault(const std::string& urlPath, const std::string& faultFields)
{
    return Post("faults/set", "{\"path\": " + JsonQuoted(urlPath) + ", " + faultFields + "}");
}

bool ChannelControl::ClearFaults(const std::string& urlPath)
{
    return Post("faults/clear", urlPath.empty() ? "{}" : "{\"path\": " + JsonQuoted(urlPath) + "}");
}

bool ChannelControl::ClearLogs() { return Post("clear", "{}"); }

std::string ChannelControl::Requests()
{
    std::unique_ptr<CURL, CurlCleanup> curl(curl_easy_init());
    std::string body;
    if (!curl || m_base.empty()) return body;
    const std::string url = m_base + "/_control/requests";
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &body);
    curl_easy_perform(curl.get());
    return body;
}

}  // namespace testsupport
