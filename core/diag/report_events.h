// Event codes of the reports to the statistics server.
#pragma once

namespace core {

constexpr int kEventCreate = 1;
constexpr int kEventDownloadStart = 2;
constexpr int kEventUnzipStart = 3;
constexpr int kEventUnzipDone = 6;  // carries only the common parameters
constexpr int kEventGameStart = 9;

}  // namespace core
