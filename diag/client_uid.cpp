#include "diag/client_uid.h"

#include <windows.h>
#include <objbase.h>
#include <wbemidl.h>

#include <vector>

#include "core/diag/fingerprint_text.h"
#include "fw/com_ptr.h"
#include "fw/text.h"
#include "fw/win_handle.h"

namespace fingerprint {

namespace {

constexpr DWORD kSha1Bytes = 20;

// Balances the one COM initialisation that succeeded, whatever way the uid step ends.
class ComInitialisation {
public:
    ComInitialisation()
    {
        m_bOk = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)) ||
                SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    }
    ~ComInitialisation()
    {
        if (m_bOk) ::CoUninitialize();
    }
    ComInitialisation(const ComInitialisation&) = delete;
    ComInitialisation& operator=(const ComInitialisation&) = delete;
    bool ok() const { return m_bOk; }

private:
    bool m_bOk = false;
};

// The "SerialNumber" of every object the query returns; the last one wins, and an absent or
// null value counts as "". False when the query cannot be run.
bool QuerySerial(IWbemServices* services, const wchar_t* query, std::wstring& serial)
{
    fw::ComPtr<IEnumWbemClassObject> objects;
    const fw::Bstr language(L"WQL"), text(query);
    if (FAILED(services->ExecQuery(language.get(), text.get(), WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                   nullptr, objects.put())))
        return false;
    for (;;) {
        fw::ComPtr<IWbemClassObject> object;
        ULONG returned = 0;
        objects->Next(WBEM_INFINITE, 1, object.put(), &returned);
        if (returned == 0 || !object) break;
        fw::Variant value;
        const HRESULT hr = object->Get(L"SerialNumber", 0, value.put(), nullptr, nullptr);
        serial = SUCCEEDED(hr) && value.get().vt == VT_BSTR && value.get().bstrVal ? value.get().bstrVal : L"";
    }
    return true;
}

}  // namespace

long ChooseComSecurity()
{
    return ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                  RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
}

std::wstring ReadClientUid(ComSecurityChoice chooseSecurity)
{
    std::wstring boardSerial, biosSerial, systemSerial;
    {
        ComInitialisation com;
        if (!com.ok()) return core::kUnknownText;
        // Fails when the process already chose its COM security (then WMI may not let us in).
        if (FAILED(chooseSecurity())) return core::kUnknownText;

        fw::ComPtr<IWbemLocator> locator;
        if (FAILED(::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                      locator.put_void())))
            return core::kUnknownText;
        fw::ComPtr<IWbemServices> services;
        const fw::Bstr nameSpace(L"ROOT\\CIMV2");
        if (FAILED(locator->ConnectServer(nameSpace.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                          services.put())))
            return core::kUnknownText;
        if (FAILED(::CoSetProxyBlanket(services.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                       RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE)))
            return core::kUnknownText;

        if (!QuerySerial(services.get(), L"SELECT * FROM Win32_BaseBoard", boardSerial) ||
            !QuerySerial(services.get(), L"SELECT * FROM Win32_BIOS", biosSerial) ||
            !QuerySerial(services.get(), L"SELECT * FROM Win32_OperatingSystem", systemSerial))
            return core::kUnknownText;
        // The WMI objects are released here, before COM is uninitialised.
    }
    return Sha1HexOfUtf8(boardSerial + biosSerial + systemSerial);
}

std::wstring Sha1HexOfUtf8(const std::wstring& text)
{
    const std::string bytes = fw::WideToUtf8(text);
    fw::UniqueCryptProvider provider;
    if (!::CryptAcquireContextW(provider.put(), nullptr, MS_DEF_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
        return {};
    fw::UniqueCryptHash hash;
    if (!::CryptCreateHash(provider.get(), CALG_SHA1, 0, 0, hash.put())) return {};
    if (!::CryptHashData(hash.get(), reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()), 0))
        return {};
    std::vector<std::uint8_t> digest(kSha1Bytes);
    DWORD size = kSha1Bytes;
    if (!::CryptGetHashParam(hash.get(), HP_HASHVAL, digest.data(), &size, 0) || size != kSha1Bytes) return {};
    return core::HexDigest(digest);
}

}  // namespace fingerprint
