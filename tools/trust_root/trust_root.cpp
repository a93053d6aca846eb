// Adds a certificate (a DER file) to the local machine's root store of the Wine prefix it runs
// in, as a test's throwaway certification authority: trust_root.exe <certificate.der>.
// Exit code 0 when the certificate is in the store afterwards, 1 otherwise (with a line on
// standard error).
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        std::fwprintf(stderr, L"usage: trust_root <certificate.der>\n");
        return 1;
    }
    std::ifstream file(argv[1], std::ios::binary);
    const std::vector<char> der((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (der.empty()) {
        std::fwprintf(stderr, L"trust_root: cannot read %ls\n", argv[1]);
        return 1;
    }
    HCERTSTORE root = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
    if (!root) {
        std::fwprintf(stderr, L"trust_root: cannot open the root store (%lu)\n", ::GetLastError());
        return 1;
    }
    const BOOL added = ::CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING,
                                                          reinterpret_cast<const BYTE*>(der.data()),
                                                          static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                                          nullptr);
    const DWORD error = ::GetLastError();
    ::CertCloseStore(root, 0);
    if (!added) {
        std::fwprintf(stderr, L"trust_root: the certificate was not added (0x%08lX)\n", error);
        return 1;
    }
    return 0;
}
