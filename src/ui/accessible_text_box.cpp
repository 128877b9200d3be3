#include "ui/accessible_text_box.h"

#include <oleacc.h>

#include <string>

#include "platform/system_function.h"

namespace {

constexpr wchar_t kSubclassProperty[] = L"Tamsket.AccessibleTextBox";

// What the box was before it was given a name.
struct Subclass {
  WNDPROC original;
  const wchar_t* name;
};

bool isSelf(const VARIANT& child) { return child.vt == VT_I4 && child.lVal == CHILDID_SELF; }

void setLong(VARIANT* out, LONG value) {
  out->vt = VT_I4;
  out->lVal = value;
}

// oleaut32 is loaded when a screen reader first asks, not at start-up.
BSTR allocString(const wchar_t* text) {
  const auto sysAllocString =
      platform::systemFunction<decltype(&SysAllocString)>(L"oleaut32.dll", "SysAllocString");
  return sysAllocString ? sysAllocString(text) : nullptr;
}

// The box's accessible object: its own name, and for everything else the
// system's standard object for an edit. Where that cannot be made (oleacc
// missing or refusing), it answers value, role, state and place itself.
class AccessibleTextBox final : public IAccessible {
 public:
  AccessibleTextBox(HWND box, const wchar_t* name, IAccessible* standard)
      : box_(box), name_(name), standard_(standard) {}
  AccessibleTextBox(const AccessibleTextBox&) = delete;
  AccessibleTextBox& operator=(const AccessibleTextBox&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IDispatch) || iid == __uuidof(IAccessible)) {
      *out = static_cast<IAccessible*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  // Clients of IAccessible call it directly; there is no type library.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
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

  HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
    if (!name) return E_POINTER;
    if (!isSelf(child)) return standard_ ? standard_->get_accName(child, name) : E_INVALIDARG;
    *name = allocString(name_);
    return *name ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
    if (standard_) return standard_->get_accValue(child, value);
    if (!value) return E_POINTER;
    if (!isSelf(child)) return E_INVALIDARG;
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(box_)) + 1, L'\0');
    text.resize(
        static_cast<std::size_t>(GetWindowTextW(box_, text.data(), static_cast<int>(text.size()))));
    *value = allocString(text.c_str());
    return *value ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
    if (standard_) return standard_->get_accRole(child, role);
    if (!role) return E_POINTER;
    if (!isSelf(child)) return E_INVALIDARG;
    setLong(role, ROLE_SYSTEM_TEXT);
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
    if (standard_) return standard_->get_accState(child, state);
    if (!state) return E_POINTER;
    if (!isSelf(child)) return E_INVALIDARG;
    setLong(state, STATE_SYSTEM_FOCUSABLE | (GetFocus() == box_ ? STATE_SYSTEM_FOCUSED : 0));
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height,
                                        VARIANT child) override {
    if (standard_) return standard_->accLocation(left, top, width, height, child);
    if (!left || !top || !width || !height) return E_POINTER;
    if (!isSelf(child)) return E_INVALIDARG;
    const RECT r = clientOnScreen();
    *left = r.left;
    *top = r.top;
    *width = r.right - r.left;
    *height = r.bottom - r.top;
    return S_OK;
  }

  // The rest only the standard object knows about; without it a text box has
  // no parent object, children, help, shortcut or actions to offer.
  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
    if (standard_) return standard_->get_accParent(parent);
    if (!parent) return E_POINTER;
    *parent = nullptr;
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override {
    if (standard_) return standard_->get_accChildCount(count);
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
    if (standard_) return standard_->get_accChild(child, out);
    if (!out) return E_POINTER;
    *out = nullptr;
    return E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override {
    return standard_ ? standard_->get_accDescription(child, text) : noText(text);
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* text) override {
    return standard_ ? standard_->get_accHelp(child, text) : noText(text);
  }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override {
    if (standard_) return standard_->get_accHelpTopic(file, child, topic);
    if (topic) *topic = 0;
    return noText(file);
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* text) override {
    return standard_ ? standard_->get_accKeyboardShortcut(child, text) : noText(text);
  }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* text) override {
    return standard_ ? standard_->get_accDefaultAction(child, text) : noText(text);
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
    if (standard_) return standard_->get_accFocus(focus);
    if (!focus) return E_POINTER;
    focus->vt = VT_EMPTY;
    if (GetFocus() != box_) return S_FALSE;
    setLong(focus, CHILDID_SELF);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
    if (standard_) return standard_->get_accSelection(selection);
    if (!selection) return E_POINTER;
    selection->vt = VT_EMPTY;
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override {
    if (standard_) return standard_->accSelect(flags, child);
    if (!isSelf(child)) return E_INVALIDARG;
    if (flags & SELFLAG_TAKEFOCUS) SetFocus(box_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override {
    if (standard_) return standard_->accNavigate(direction, start, end);
    if (!end) return E_POINTER;
    end->vt = VT_EMPTY;
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* child) override {
    if (standard_) return standard_->accHitTest(x, y, child);
    if (!child) return E_POINTER;
    const RECT r = clientOnScreen();
    const POINT point{x, y};
    child->vt = VT_EMPTY;
    if (!PtInRect(&r, point)) return S_FALSE;
    setLong(child, CHILDID_SELF);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
    return standard_ ? standard_->accDoDefaultAction(child) : DISP_E_MEMBERNOTFOUND;
  }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override {
    return standard_ ? standard_->put_accValue(child, value) : E_NOTIMPL;
  }

 private:
  ~AccessibleTextBox() {
    if (standard_) standard_->Release();
  }
  // The client object is the box inside its border.
  RECT clientOnScreen() const {
    RECT r{};
    GetClientRect(box_, &r);
    MapWindowPoints(box_, nullptr, reinterpret_cast<POINT*>(&r), 2);
    return r;
  }
  static HRESULT noText(BSTR* text) {
    if (!text) return E_POINTER;
    *text = nullptr;
    return S_FALSE;
  }

  HWND box_;
  const wchar_t* name_;
  IAccessible* standard_;
  ULONG references_ = 1;
};

// Answers WM_GETOBJECT for the box's client object with the named one; oleacc
// is loaded when a screen reader first asks.
LRESULT answerGetObject(HWND box, const Subclass& subclass, WPARAM wParam, LPARAM lParam) {
  const auto lresultFromObject =
      platform::systemFunction<decltype(&LresultFromObject)>(L"oleacc.dll", "LresultFromObject");
  const auto createStandard = platform::systemFunction<decltype(&CreateStdAccessibleObject)>(
      L"oleacc.dll", "CreateStdAccessibleObject");
  if (!lresultFromObject) {
    return CallWindowProcW(subclass.original, box, WM_GETOBJECT, wParam, lParam);
  }
  IAccessible* standard = nullptr;
  if (!createStandard || FAILED(createStandard(box, OBJID_CLIENT, __uuidof(IAccessible),
                                               reinterpret_cast<void**>(&standard)))) {
    standard = nullptr;
  }
  IAccessible* object = createTextBoxObject(box, subclass.name, standard);
  const LRESULT result = lresultFromObject(__uuidof(IAccessible), wParam, object);
  object->Release();  // LresultFromObject holds its own reference
  return result;
}

LRESULT CALLBACK textBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* subclass = static_cast<Subclass*>(GetPropW(box, kSubclassProperty));
  if (!subclass) return DefWindowProcW(box, message, wParam, lParam);
  const WNDPROC original = subclass->original;
  if (message == WM_GETOBJECT && static_cast<LONG>(lParam) == OBJID_CLIENT) {
    return answerGetObject(box, *subclass, wParam, lParam);
  }
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
    RemovePropW(box, kSubclassProperty);
    delete subclass;
  }
  return CallWindowProcW(original, box, message, wParam, lParam);
}

}  // namespace

IAccessible* createTextBoxObject(HWND box, const wchar_t* name, IAccessible* standard) {
  return new AccessibleTextBox(box, name, standard);
}

void nameTextBox(HWND box, const wchar_t* name) {
  if (!box) return;
  auto* subclass = new Subclass{nullptr, name};
  if (!SetPropW(box, kSubclassProperty, subclass)) {
    delete subclass;
    return;
  }
  subclass->original = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(textBoxProc)));
}
