#include "win32_accessible.h"
#include "win32_backend.h"
#include <oleacc.h>

namespace tk::win32 {

namespace {

LONG roleOf(Role r)
{
    switch (r) {
    case Role::StaticText: return ROLE_SYSTEM_STATICTEXT;
    case Role::PushButton: return ROLE_SYSTEM_PUSHBUTTON;
    case Role::Link: return ROLE_SYSTEM_LINK;
    case Role::Graphic: return ROLE_SYSTEM_GRAPHIC;
    case Role::None: break;
    }
    return ROLE_SYSTEM_CLIENT;
}

void setI4(VARIANT* v, LONG value)
{
    v->vt = VT_I4;
    v->lVal = value;
}

constexpr int kSelf = -1, kNone = -2;

} // namespace

// Hand-written rather than generated: the program links no COM library; oleacc and oleaut32 are
// bound at run time. IDispatch is answered with "not implemented", as clients call IAccessible
// directly.
class AccessibleClient::Object final : public IAccessible {
public:
    Object(HWND hwnd, WindowEvents& events, const DisplayScale& scale, const AccessibilityApi& api,
           ComRef<IAccessible> standard)
        : hwnd_(hwnd), events_(&events), scale_(scale), api_(api), standard_(std::move(standard))
    {
    }
    void disconnect()
    {
        events_ = nullptr;
        standard_.reset();
    }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (riid == __uuidof(IUnknown) || riid == __uuidof(IDispatch) || riid == __uuidof(IAccessible)) {
            *out = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG n = InterlockedDecrement(&refs_);
        if (n == 0)
            delete this;
        return ULONG(n);
    }

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override
    {
        if (!n)
            return E_POINTER;
        *n = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }

    // IAccessible
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** out) override
    {
        return standard_ ? standard_.get()->get_accParent(out) : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* n) override
    {
        if (!n)
            return E_POINTER;
        if (!events_)
            return CO_E_OBJNOTCONNECTED;
        *n = events_->accessibleCount();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        const int i = item(child);
        return i >= 0 ? S_FALSE : i == kSelf ? QueryInterface(__uuidof(IDispatch), reinterpret_cast<void**>(out))
                                             : E_INVALIDARG; // items are simple elements, no objects
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        return ask(child, [&](IAccessible& s) { return s.get_accName(child, out); },
                   [&](const AccessibleItem& it) { return text(it.name, out); });
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        return ask(child, [&](IAccessible& s) { return s.get_accValue(child, out); }, none);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        return ask(child, [&](IAccessible& s) { return s.get_accDescription(child, out); }, none);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* out) override
    {
        if (!out)
            return E_POINTER;
        out->vt = VT_EMPTY;
        return ask(child, [&](IAccessible& s) { return s.get_accRole(child, out); },
                   [&](const AccessibleItem& it) {
                       setI4(out, roleOf(it.role));
                       return S_OK;
                   });
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* out) override
    {
        if (!out)
            return E_POINTER;
        out->vt = VT_EMPTY;
        return ask(child, [&](IAccessible& s) { return s.get_accState(child, out); },
                   [&](const AccessibleItem& it) {
                       LONG state = it.role == Role::StaticText ? STATE_SYSTEM_READONLY : 0;
                       if (it.role == Role::Link)
                           state |= STATE_SYSTEM_LINKED;
                       if (it.focusable)
                           state |= STATE_SYSTEM_FOCUSABLE;
                       if (it.focused)
                           state |= STATE_SYSTEM_FOCUSED;
                       if (!it.visible)
                           state |= STATE_SYSTEM_INVISIBLE;
                       setI4(out, state);
                       return S_OK;
                   });
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        return ask(child, [&](IAccessible& s) { return s.get_accHelp(child, out); }, none);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override
    {
        if (!file || !topic)
            return E_POINTER;
        *file = nullptr;
        return ask(child, [&](IAccessible& s) { return s.get_accHelpTopic(file, child, topic); }, none);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        return ask(child, [&](IAccessible& s) { return s.get_accKeyboardShortcut(child, out); }, none);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* out) override
    {
        if (!out)
            return E_POINTER;
        out->vt = VT_EMPTY;
        if (!events_)
            return CO_E_OBJNOTCONNECTED;
        if (GetFocus() != hwnd_)
            return S_FALSE;
        const int i = events_->accessibleFocus();
        setI4(out, i >= 0 ? i + 1 : CHILDID_SELF);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* out) override
    {
        if (!out)
            return E_POINTER;
        out->vt = VT_EMPTY;
        return events_ ? S_FALSE : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        return ask(child, [&](IAccessible& s) { return s.get_accDefaultAction(child, out); },
                   [&](const AccessibleItem& it) {
                       return it.defaultAction.empty() ? DISP_E_MEMBERNOTFOUND : text(it.defaultAction, out);
                   });
    }
    // Only the focus can be given: the items are no selection.
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override
    {
        return ask(child, [&](IAccessible& s) { return s.accSelect(flags, child); },
                   [&](const AccessibleItem& it) -> HRESULT {
                       if (flags != SELFLAG_TAKEFOCUS)
                           return E_INVALIDARG;
                       if (!it.focusable || !it.visible)
                           return DISP_E_MEMBERNOTFOUND;
                       if (GetFocus() != hwnd_)
                           SetFocus(hwnd_);
                       return events_->accessibleTakeFocus(child.lVal - 1) ? S_OK : S_FALSE;
                   });
    }
    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height, VARIANT child) override
    {
        if (!left || !top || !width || !height)
            return E_POINTER;
        return ask(child, [&](IAccessible& s) { return s.accLocation(left, top, width, height, child); },
                   [&](const AccessibleItem& it) {
                       const DeviceRect r = scale_.toDevice(it.rect);
                       POINT p{r.left, r.top};
                       ClientToScreen(hwnd_, &p);
                       *left = p.x;
                       *top = p.y;
                       *width = r.width();
                       *height = r.height();
                       return S_OK;
                   });
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long dir, VARIANT start, VARIANT* out) override
    {
        if (!out)
            return E_POINTER;
        out->vt = VT_EMPTY;
        const int i = item(start);
        if (i == kNone)
            return events_ ? E_INVALIDARG : CO_E_OBJNOTCONNECTED;
        const int n = events_->accessibleCount();
        int to = kNone;
        if (i == kSelf && dir == NAVDIR_FIRSTCHILD && n > 0)
            to = 0;
        else if (i == kSelf && dir == NAVDIR_LASTCHILD && n > 0)
            to = n - 1;
        else if (i == kSelf)
            return standard_.get()->accNavigate(dir, start, out);
        else if (dir == NAVDIR_NEXT && i + 1 < n)
            to = i + 1;
        else if (dir == NAVDIR_PREVIOUS && i > 0)
            to = i - 1;
        if (to == kNone)
            return S_FALSE;
        setI4(out, to + 1);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* out) override
    {
        if (!out)
            return E_POINTER;
        out->vt = VT_EMPTY;
        if (!events_)
            return CO_E_OBJNOTCONNECTED;
        POINT p{x, y};
        ScreenToClient(hwnd_, &p);
        RECT client{};
        GetClientRect(hwnd_, &client);
        if (!PtInRect(&client, p))
            return standard_.get()->accHitTest(x, y, out);
        const int i = events_->accessibleAt(scale_.toLogical(DevicePoint{p.x, p.y}));
        setI4(out, i >= 0 ? i + 1 : CHILDID_SELF);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override
    {
        return ask(child, [&](IAccessible& s) { return s.accDoDefaultAction(child); },
                   [&](const AccessibleItem& it) {
                       if (it.defaultAction.empty() || !it.visible)
                           return DISP_E_MEMBERNOTFOUND;
                       // Posted: the click may open a link through the shell and COM, which
                       // must not run inside the reader's incoming call.
                       return PostMessageW(hwnd_, kDefaultActionMessage, WPARAM(child.lVal - 1), 0) ? S_OK : E_FAIL;
                   });
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

private:
    ~Object() = default; // by Release only

    // The item a child id names, kSelf for the window itself, kNone for no valid one.
    int item(const VARIANT& child) const
    {
        if (!events_ || child.vt != VT_I4)
            return kNone;
        if (child.lVal == CHILDID_SELF)
            return kSelf;
        return child.lVal >= 1 && child.lVal <= events_->accessibleCount() ? int(child.lVal - 1) : kNone;
    }

    // The window itself asks the standard object; an item answers from the toolkit.
    template <typename Self, typename Item> HRESULT ask(const VARIANT& child, Self self, Item forItem)
    {
        const int i = item(child);
        if (i == kSelf)
            return self(*standard_.get());
        if (i == kNone)
            return events_ ? E_INVALIDARG : CO_E_OBJNOTCONNECTED;
        return forItem(events_->accessibleItem(i));
    }
    static HRESULT none(const AccessibleItem&) { return DISP_E_MEMBERNOTFOUND; }

    HRESULT text(const std::string& s, BSTR* out) const
    {
        const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), nullptr, 0);
        *out = api_.sysAllocStringLen(nullptr, UINT(n));
        if (!*out)
            return E_OUTOFMEMORY;
        MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), *out, n);
        return S_OK;
    }

    LONG refs_ = 1;
    HWND hwnd_;
    WindowEvents* events_;      // null once the window is gone
    const DisplayScale& scale_; // the window's: read only while events_ is set
    const AccessibilityApi& api_;
    ComRef<IAccessible> standard_; // empty once the window is gone
};

LRESULT AccessibleClient::answer(const AccessibilityApi& api, HWND hwnd, WindowEvents& events,
                                 const DisplayScale& scale, WPARAM wp)
{
    if (!object_) {
        IAccessible* standard = nullptr;
        if (FAILED(api.createStdAccessibleObject(hwnd, OBJID_CLIENT, __uuidof(IAccessible),
                                                 reinterpret_cast<void**>(&standard))) || !standard)
            return 0;
        object_.reset(new Object(hwnd, events, scale, api, ComRef<IAccessible>(standard)));
    }
    const LRESULT r = api.lresultFromObject(__uuidof(IAccessible), wp, static_cast<IAccessible*>(object_.get()));
    return r > 0 ? r : 0;
}

void AccessibleClient::releaseObject(Object* o) { o->Release(); }

AccessibleClient::AccessibleClient() = default;
AccessibleClient::~AccessibleClient() { disconnect(); }

void AccessibleClient::disconnect()
{
    // Readers that still hold the object hear that it is gone; our reference goes.
    if (object_)
        object_.get()->disconnect();
    object_.reset();
}

} // namespace tk::win32
