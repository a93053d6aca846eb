#include "http/http_request_header.h"

#include <urlmon.h>

#include <vector>

#include "fw/text.h"

namespace {

constexpr DWORD kUserAgentBufferBytes = 1024;

std::wstring SystemUserAgent()
{
    std::vector<char> agent(kUserAgentBufferBytes + 1, '\0');
    DWORD size = kUserAgentBufferBytes;
    if (FAILED(::ObtainUserAgentString(0, agent.data(), &size))) return {};
    return fw::AnsiToWide(agent.data());
}

}  // namespace

FCHttpRequestHeader::FCHttpRequestHeader() : m_strUserAgent(SystemUserAgent()) {}
