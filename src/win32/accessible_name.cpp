#include "win32/accessible_name.h"

#include <initguid.h>
#include <oleacc.h>
#include <oleidl.h>

namespace ornat::win32 {

namespace {

// COM interfaces have no virtual destructor: an object ends in its own Release.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

// The standard accessible object of a control, with another name for the control
// itself. Calls through IDispatch are not served (readers call IAccessible's methods).
class NamedAccessible final : public IAccessible, public IOleWindow {
 public:
  NamedAccessible(IAccessible* standard, HWND hwnd, std::wstring name)
      : inner_(standard), hwnd_(hwnd), name_(std::move(name)) {}
  NamedAccessible(const NamedAccessible&) = delete;
  NamedAccessible& operator=(const NamedAccessible&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IAccessible)
      *out = static_cast<IAccessible*>(this);
    else if (iid == IID_IOleWindow)
      *out = static_cast<IOleWindow*>(this);
    else
      return *out = nullptr, E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = --refs_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
    if (n != nullptr) *n = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }

  // IAccessible: the name of the control itself is ours, the rest the standard one's.
  HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
    if (child.vt != VT_I4 || child.lVal != CHILDID_SELF) return inner_->get_accName(child, name);
    if (name == nullptr) return E_INVALIDARG;
    *name = ::SysAllocString(name_.c_str());
    return *name != nullptr ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
    return inner_->get_accParent(parent);
  }
  HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* n) override {
    return inner_->get_accChildCount(n);
  }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
    return inner_->get_accChild(child, out);
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* out) override {
    return inner_->get_accValue(child, out);
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* out) override {
    return inner_->get_accDescription(child, out);
  }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* out) override {
    return inner_->get_accRole(child, out);
  }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* out) override {
    return inner_->get_accState(child, out);
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* out) override {
    return inner_->get_accHelp(child, out);
  }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override {
    return inner_->get_accHelpTopic(file, child, topic);
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* out) override {
    return inner_->get_accKeyboardShortcut(child, out);
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* out) override {
    return inner_->get_accFocus(out);
  }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* out) override {
    return inner_->get_accSelection(out);
  }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* out) override {
    return inner_->get_accDefaultAction(child, out);
  }
  HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override {
    return inner_->accSelect(flags, child);
  }
  HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height,
                                        VARIANT child) override {
    return inner_->accLocation(left, top, width, height, child);
  }
  HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override {
    return inner_->accNavigate(direction, start, end);
  }
  HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* out) override {
    return inner_->accHitTest(x, y, out);
  }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
    return inner_->accDoDefaultAction(child);
  }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

  // IOleWindow: the control's window, so WindowFromAccessibleObject finds it.
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* out) override {
    if (out == nullptr) return E_POINTER;
    *out = hwnd_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

 private:
  ~NamedAccessible() { inner_->Release(); }

  IAccessible* inner_;
  HWND hwnd_;
  std::wstring name_;
  LONG refs_ = 1;
};

#pragma GCC diagnostic pop

}  // namespace

void AccessibleNames::Name(HWND control, const std::wstring& name) {
  names_[control] = name;
  IAccPropServices* services = nullptr;
  if (SUCCEEDED(::CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IAccPropServices, reinterpret_cast<void**>(&services))) &&
      services != nullptr) {
    services->SetHwndPropStr(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                             PROPID_ACC_NAME, name.c_str());
    services->Release();
  }
}

LRESULT AccessibleNames::Answer(HWND control, WPARAM wp, LPARAM lp, bool& handled) const {
  handled = false;
  // The object id travels in the low 32 bits.
  if (static_cast<LONG>(static_cast<DWORD>(lp)) != OBJID_CLIENT) return 0;
  const auto it = names_.find(control);
  if (it == names_.end()) return 0;
  IAccessible* standard = nullptr;
  if (FAILED(::CreateStdAccessibleObject(control, OBJID_CLIENT, IID_IAccessible,
                                         reinterpret_cast<void**>(&standard))) ||
      standard == nullptr)
    return 0;
  auto* named = new NamedAccessible(standard, control, it->second);
  const LRESULT r = ::LresultFromObject(IID_IAccessible, wp, static_cast<IAccessible*>(named));
  named->Release();
  // A reference to the object, or a negative HRESULT.
  handled = r > 0;
  return handled ? r : 0;
}

}  // namespace ornat::win32
