// The container side of an ActiveX control on a dialog: the dialog's control is a plain child
// window that keeps the control's place, and a control site embeds the control in it through
// the standard in-place protocol (client site, in-place site, control site; the frame, on the
// dialog's window, and the event sink are objects of their own) and
// passes the control's events to the dialog (CDialog::OnControlEvent). A manager creates the
// sites; a program installs its own manager to give its controls sites with more interfaces.
#pragma once
#include <windows.h>
#include <ocidl.h>
#include <oleidl.h>

#include "fw/com_ptr.h"

namespace fw {

class COleControlSite;

class COccManager {
public:
    virtual ~COccManager() = default;
    // A new site for a control of the container window, with one reference for the caller.
    virtual COleControlSite* CreateSite(HWND container);
};

// Installs the process's control-container manager; nullptr installs the default one again.
void EnableControlContainer(COccManager* manager = nullptr);
COccManager& ControlContainerManager();

class COleControlSite : public IOleClientSite, public IOleInPlaceSite, public IOleControlSite {
public:
    explicit COleControlSite(HWND container);
    virtual ~COleControlSite();
    COleControlSite(const COleControlSite&) = delete;
    COleControlSite& operator=(const COleControlSite&) = delete;

    // Creates the control and activates it in place inside the dialog's control `id`, and
    // connects the events of the outgoing interface `events` to the dialog.
    bool CreateControl(REFCLSID clsid, int id, REFIID events);
    // Deactivates, closes and releases the control while its place still exists; the site
    // lives on until its last reference. Also run by the place's own destruction, so a
    // dialog that goes takes its controls down before their windows go.
    void DestroyControl();
    // The control's place follows the window it lies in.
    void UpdatePlace();

    IDispatch* ControlDispatch() const { return m_pDispatch.get(); }
    // True when object is the control itself (COM identity), not one of its parts.
    bool IsControl(IUnknown* object) const;

    // Offers a keyboard message (WM_KEYFIRST through WM_KEYLAST) aimed at a control of this
    // thread, or a window inside it, to that control's in-place active object, as a control
    // container does before its own key handling. True when the control took it.
    static bool TranslateControlKey(MSG& msg);
    HWND Place() const { return m_hPlace; }
    HWND Container() const { return m_hContainer; }

    // IUnknown: the derived site's interfaces first (QueryExtraInterface), then ours.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHODIMP GetContainer(IOleContainer** container) override;
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow (the in-place site's): the control's place
    STDMETHODIMP GetWindow(HWND* hwnd) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos, LPRECT clip,
                                  LPOLEINPLACEFRAMEINFO info) override;
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
    STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
    STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

    // The control's in-place active object, kept for its keys until it hands over null.
    HRESULT SetActiveObject(IOleInPlaceActiveObject* active, LPCOLESTR name);

    // IOleControlSite
    STDMETHODIMP OnControlInfoChanged() override { return S_OK; }
    STDMETHODIMP LockInPlaceActive(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP GetExtendedControl(IDispatch** disp) override;
    STDMETHODIMP TransformCoords(POINTL*, POINTF*, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAccelerator(LPMSG, DWORD) override { return S_FALSE; }
    STDMETHODIMP OnFocus(BOOL) override { return S_OK; }
    STDMETHODIMP ShowPropertyFrame() override { return E_NOTIMPL; }

protected:
    // Interfaces a derived site adds; nullptr when it has none for riid. No reference added.
    virtual void* QueryExtraInterface(REFIID) { return nullptr; }

private:
    // The references of the site's parts of their own: each part counts its own, and holds
    // one on the site while any is out, so the site outlives it.
    class XPart {
    public:
        explicit XPart(COleControlSite& outer) : m_outer(outer) {}
        ULONG AddPartRef();
        ULONG ReleasePartRef();
        COleControlSite& Outer() const { return m_outer; }

    private:
        COleControlSite& m_outer;
        ULONG m_cRef = 0;
    };

    // The in-place frame: the dialog's window, which has no menus or tool bars to share.
    class XFrame : public IOleInPlaceFrame, public XPart {
    public:
        using XPart::XPart;
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
        STDMETHODIMP_(ULONG) AddRef() override { return AddPartRef(); }
        STDMETHODIMP_(ULONG) Release() override { return ReleasePartRef(); }
        STDMETHODIMP GetWindow(HWND* hwnd) override;
        STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
        STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
        STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
        STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
        STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* active, LPCOLESTR name) override
        {
            return Outer().SetActiveObject(active, name);
        }
        STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
        STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
        STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
        STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
        STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
        STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }
    } m_xFrame{*this};

    // The control's events, handed to the container dialog.
    class XEventSink : public IDispatch, public XPart {
    public:
        using XPart::XPart;
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
        STDMETHODIMP_(ULONG) AddRef() override { return AddPartRef(); }
        STDMETHODIMP_(ULONG) Release() override { return ReleasePartRef(); }
        STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
        STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
        STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
        STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override;
        IID m_iid = IID_NULL;
    } m_xEventSink{*this};

    RECT PlaceRect() const;
    // The place's window procedure in front of its own, for its destruction.
    static LRESULT CALLBACK PlaceProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    void HookPlace();
    void UnhookPlace();

    ULONG m_cRef = 1;
    HWND m_hContainer;
    HWND m_hPlace = nullptr;
    int m_nId = 0;
    ComPtr<IOleObject> m_pObject;
    ComPtr<IDispatch> m_pDispatch;
    ComPtr<IConnectionPoint> m_pEvents;
    DWORD m_dwCookie = 0;
    ComPtr<IOleInPlaceActiveObject> m_pActiveObject;
    WNDPROC m_pfnPlaceProc = nullptr;
};

}  // namespace fw
