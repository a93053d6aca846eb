// The update pipeline natively, as the launcher runs it on its update thread: configuration,
// download and unpacking into an install folder. Prints the process's resident size before the
// work and its resident peak after it, for the memory benchmark's reference.
//
//   pipeline_peak <configuration URL> <install folder>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/bench_pipeline.h"
#include "core/text/utf8_text.h"
#include "core/update/update_driver.h"

namespace {

long StatusKiB(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == std::string(field) + ":") {
            long kib = -1;
            status >> kib;
            return kib;
        }
        status.ignore(1 << 16, '\n');
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: pipeline_peak <configuration URL> <install folder>\n");
        return 2;
    }
    const std::filesystem::path install = argv[2];
    std::filesystem::create_directories(install / "client");
    bench::QuietHost host;
    bench::NoWindow window;
    core::PipelineState state;
    core::UpdateContext ctx{host, state, &window,
                            core::PipelinePaths{core::Utf8ToWide(install.string()),
                                                core::Utf8ToWide((install / "client").string()), L"qorn", L"palmet",
                                                L"qorn"}};
    const long before = StatusKiB("VmRSS");
    core::InitRemoteConfig(ctx, core::Utf8ToWide(argv[1]), [] { return std::wstring(L"qorn"); });
    const bool installed = std::filesystem::exists(install / "client" / "game_client_version.txt");
    std::printf("start_kib=%ld peak_kib=%ld installed=%d\n", before, StatusKiB("VmHWM"), installed ? 1 : 0);
    return installed ? 0 : 1;
}
