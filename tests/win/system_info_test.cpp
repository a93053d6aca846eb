// The machine fingerprint as Wine's system reports it. The record is built once per process,
// so the tests that watch it being built run a child process of their own.
#include <windows.h>
#include <objbase.h>
#include <iphlpapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <regex>
#include <string>
#include <thread>

#include "core/diag/fingerprint_text.h"
#include "diag/client_uid.h"
#include "diag/fingerprint_collectors.h"
#include "diag/system_info.h"
#include "fw/text.h"
#include "tests/win/win_test_support.h"
#include "update/game_remote_config.h"

namespace {

TEST(Sha1Digest, KnownDigestsOfUtf8Text)
{
    EXPECT_EQ(fingerprint::Sha1HexOfUtf8(L""), L"da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(fingerprint::Sha1HexOfUtf8(L"abc"), L"a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(fingerprint::Sha1HexOfUtf8(L"中文 serial"), L"834f8cde33adf6cc0881f7a8c090e8b7810ccb57");
}

// The child's record: one "name=value" line per field, UTF-8.
std::map<std::string, std::string> ReadRecord(const std::wstring& path)
{
    std::map<std::string, std::string> fields;
    const std::vector<char> bytes = wintest::ReadFileBytes(path);
    std::string text(bytes.begin(), bytes.end());
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        const size_t eq = line.find('=');
        if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
        start = end + 1;
    }
    return fields;
}

TEST(Fingerprint, ValuesUnderWineHaveTheirForms)
{
    wintest::TempDir dir(L"fingerprint");
    const std::wstring record = dir.path() + L"\\record.txt";
    ASSERT_EQ(wintest::RunSelfAsChild(L"--system-info-child", record), 0u);
    auto fields = ReadRecord(record);
    for (const auto& field : fields) std::printf("  fingerprint %s = \"%s\"\n", field.first.c_str(), field.second.c_str());

    EXPECT_TRUE(std::regex_match(fields["mac"], std::regex("[0-9A-F]{2}(-[0-9A-F]{2}){5}|unkown"))) << fields["mac"];
    EXPECT_TRUE(std::regex_match(fields["uid"], std::regex("[0-9a-f]{40}"))) << fields["uid"];
    EXPECT_TRUE(std::regex_match(fields["memory"], std::regex(R"(physical memory:\d+ MB virtual memory:\d+ MB)")))
        << fields["memory"];
    EXPECT_EQ(fields["os"].rfind("Version major:", 0), 0u) << fields["os"];
    // The description carries the processor name and ends with the memory text.
    const std::string tail = fields["processor"] + fields["memory"];
    ASSERT_GE(fields["os"].size(), tail.size());
    EXPECT_EQ(fields["os"].substr(fields["os"].size() - tail.size()), tail);
    // The uid step initialises COM for itself and leaves the thread as it found it.
    EXPECT_EQ(fields["com_left_uninitialised"], "1");
    // A second process of the same machine gets the same uid.
    const std::wstring again = dir.path() + L"\\again.txt";
    ASSERT_EQ(wintest::RunSelfAsChild(L"--system-info-child", again), 0u);
    EXPECT_EQ(ReadRecord(again)["uid"], fields["uid"]);
}

// Windows refuses a second security choice (RPC_E_TOO_LATE) when the process made one before;
// then the uid is unknown, and the thread's COM state is left as it was.
// Each on a fresh thread, so nothing but the security choice differs between the two.
TEST(Fingerprint, RefusedComSecurityGivesAnUnknownUid)
{
    std::wstring refused, accepted;
    std::thread([&] { refused = fingerprint::ReadClientUid([]() -> long { return RPC_E_TOO_LATE; }); }).join();
    std::thread([&] { accepted = fingerprint::ReadClientUid([]() -> long { return S_OK; }); }).join();
    EXPECT_EQ(refused, L"unkown");
    EXPECT_TRUE(std::regex_match(accepted, std::wregex(L"[0-9a-f]{40}"))) << fw::WideToUtf8(accepted);
}

TEST(Fingerprint, ProcessorNameIsTheRegistryBrandString)
{
    const std::wstring expected = CGameRemoteConfig::QueryRegistryKey(
        HKEY_LOCAL_MACHINE, L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", L"ProcessorNameString");
    EXPECT_EQ(fingerprint::ReadProcessorName(), expected);
}

TEST(Fingerprint, AdapterListThatDoesNotFitGivesUnknownMac)
{
    EXPECT_EQ(fingerprint::ReadMacText(sizeof(IP_ADAPTER_INFO) / 2), L"unkown");
    // With room to spare the answer is the one of the fixed buffer (the list here is short).
    EXPECT_EQ(fingerprint::ReadMacText(64 * 1024), fingerprint::ReadMacText(fingerprint::kAdapterBufferBytes));
}

TEST(Fingerprint, VersionTextAndVersionTestsAgreeWithTheSystem)
{
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info)));
    EXPECT_EQ(fingerprint::ReadOsVersionText(),
              core::OsVersionText(static_cast<int>(info.dwMajorVersion), static_cast<int>(info.dwMinorVersion),
                                  static_cast<int>(info.dwBuildNumber)));
    const auto atLeast = [&](int major, int minor, int sp) {
        const int have[] = {static_cast<int>(info.dwMajorVersion), static_cast<int>(info.dwMinorVersion),
                            info.wServicePackMajor};
        const int want[] = {major, minor, sp};
        return !std::lexicographical_compare(have, have + 3, want, want + 3);
    };
    EXPECT_EQ(fingerprint::OsVersionNameByTests(), core::OsVersionNameFromTests(atLeast));
}

// The one "is this 64-bit Windows" answer: a 64-bit build always runs on 64-bit Windows; a
// 32-bit build asks the system, and the test prefix of a 32-bit run is 32-bit Windows.
TEST(Fingerprint, SixtyFourBitWindowsAnswerMatchesTheBuildAndPrefix)
{
#if defined(_WIN64)
    EXPECT_TRUE(CSystemInfo::IsWow64());
#else
    BOOL wow64 = TRUE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    EXPECT_FALSE(wow64) << "the 32-bit variant runs in a 32-bit prefix";
    EXPECT_FALSE(CSystemInfo::IsWow64());
#endif
}

// The memory figures are the memory status's byte counts as 32-bit values: a 64-bit build
// saturates them (never wraps), and Wine caps a 32-bit program that is not large-address
// aware at 2 GiB - 1.
TEST(Fingerprint, MemoryTextIsTheClampedMemoryStatus)
{
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    ASSERT_TRUE(GlobalMemoryStatusEx(&status));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(GetModuleHandleW(nullptr));
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(reinterpret_cast<const BYTE*>(dos) + dos->e_lfanew);
    const bool largeAddressAware = (nt->FileHeader.Characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE) != 0;
    const unsigned long long cap = sizeof(void*) == 8 || largeAddressAware ? 0xFFFFFFFFull : 0x7FFFFFFFull;
    const unsigned long long physicalMb = std::min<unsigned long long>(status.ullTotalPhys, cap) >> 20;
    const unsigned long long virtualMb = std::min<unsigned long long>(status.ullTotalVirtual, cap) >> 20;
    char expected[96];
    std::snprintf(expected, sizeof expected, "physical memory:%llu MB virtual memory:%llu MB", physicalMb, virtualMb);
    std::printf("  memory status: %llu MB physical, %llu MB virtual; text \"%s\"\n", status.ullTotalPhys >> 20,
                status.ullTotalVirtual >> 20, expected);
    EXPECT_EQ(fw::WideToUtf8(fingerprint::ReadMemoryText()), expected);
}

bool WriteRecord(const std::wstring& path, const CSystemInfo& info, bool comLeftUninitialised)
{
    const std::wstring text = L"processor=" + info.m_strProcessorName + L"\nmac=" + info.m_strMacAddress +
                              L"\nos=" + info.m_strOsDescription + L"\nmemory=" + info.m_strMemory +
                              L"\nuid=" + info.m_strClientUid + L"\ncom_left_uninitialised=" +
                              (comLeftUninitialised ? L"1" : L"0") + L"\n";
    return wintest::WriteFileBytes(path, fw::WideToUtf8(text));
}

}  // namespace

// Child mode: build the fingerprint on a thread without COM and record it.
int SystemInfoChildMain(const std::wstring& recordPath)
{
    const CSystemInfo& info = CSystemInfo::Instance();
    // S_OK (not S_FALSE) means the thread had no COM initialisation left over.
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(hr)) CoUninitialize();
    return WriteRecord(recordPath, info, hr == S_OK) ? 0 : 1;
}
