// Unpacks one package with the launcher's package walk, as the launcher does on a Chinese
// Windows: names without a UTF-8 marker are read in code page 936 (GBK). The packer tests
// (tests/tools/test_packers.py) run it on archives made by real packers.
//
//   unzip_probe PACKAGE CLIENT_DIR
//
// Exit 0 when the walk succeeded; its log lines go to stderr.
#include <iconv.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "core/update/package_extraction.h"
#include "core/update/posix_update_host.h"

namespace {

// The walk's platform with the ANSI code page of the players' machines.
class CodePage936Host : public core::PosixUpdateHost {
public:
    std::wstring FromAnsi(const std::string& bytes) override
    {
        iconv_t cd = iconv_open("UTF-8", "GBK");
        if (cd == reinterpret_cast<iconv_t>(-1)) return L"";
        std::string in = bytes, out(bytes.size() * 4 + 4, '\0');
        char* inPtr = &in[0];
        char* outPtr = &out[0];
        std::size_t inLeft = in.size(), outLeft = out.size();
        const bool ok = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
        iconv_close(cd);
        if (!ok) return L"?";  // not GBK at all: a name that cannot be made
        out.resize(out.size() - outLeft);
        return core::Utf8ToWide(out);
    }
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: unzip_probe PACKAGE CLIENT_DIR\n";
        return 2;
    }
    CodePage936Host host;
    host.echoLog = true;
    core::PipelineState state;
    const std::wstring client = core::Utf8ToWide(argv[2]);
    core::UpdateContext ctx{host, state, nullptr, core::PipelinePaths{client, client, L"qorn", L"palmet", L"qorn"}};
    return core::OnUnzipFile(ctx, core::Utf8ToWide(argv[1])) ? 0 : 1;
}
