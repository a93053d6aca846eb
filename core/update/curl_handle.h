// Owning handle for one libcurl easy transfer.
#pragma once
#include <curl/curl.h>

#include <memory>

namespace core {

struct CurlEasyCleanup {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
using CurlHandle = std::unique_ptr<CURL, CurlEasyCleanup>;

}  // namespace core
