#include "ui/accessible_text_box.h"

#include <oleacc.h>

#include "platform/system_function_win32.h"

namespace ui {

namespace {

// A function of a system DLL loaded on first use; one instantiation of
// systemFunction serves every function this file looks up.
template <typename Function>
Function systemCall(const wchar_t* dll, const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(platform::systemFunction<FARPROC>(dll, name)));
}

// What the box was before it was given a name.
struct Subclass {
  WNDPROC original;
  const wchar_t* name;
};

// The system's standard object for the box, but for its name: the system
// would look for a label window before the box, and the captions are painted.
class NamedTextBox final : public IAccessible {
 public:
  NamedTextBox(IAccessible* standard, const wchar_t* name) : standard_(standard), name_(name) {}
  NamedTextBox(const NamedTextBox&) = delete;
  NamedTextBox& operator=(const NamedTextBox&) = delete;

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

  // Clients of IAccessible call it directly; late binding through the
  // standard object's IDispatch would bypass the name.
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
    if (child.vt != VT_I4 || child.lVal != CHILDID_SELF) return standard_->get_accName(child, name);
    if (!name) return E_POINTER;
    // Like oleacc, oleaut32 is loaded when a screen reader first asks.
    const auto sysAllocString =
        systemCall<decltype(&SysAllocString)>(L"oleaut32.dll", "SysAllocString");
    *name = sysAllocString ? sysAllocString(name_) : nullptr;
    return *name ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
    return standard_->get_accParent(parent);
  }
  HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override {
    return standard_->get_accChildCount(count);
  }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
    return standard_->get_accChild(child, out);
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
    return standard_->get_accValue(child, value);
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override {
    return standard_->get_accDescription(child, text);
  }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
    return standard_->get_accRole(child, role);
  }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
    return standard_->get_accState(child, state);
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* text) override {
    return standard_->get_accHelp(child, text);
  }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override {
    return standard_->get_accHelpTopic(file, child, topic);
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* text) override {
    return standard_->get_accKeyboardShortcut(child, text);
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
    return standard_->get_accFocus(focus);
  }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
    return standard_->get_accSelection(selection);
  }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* text) override {
    return standard_->get_accDefaultAction(child, text);
  }
  HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override {
    return standard_->accSelect(flags, child);
  }
  HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height,
                                        VARIANT child) override {
    return standard_->accLocation(left, top, width, height, child);
  }
  HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override {
    return standard_->accNavigate(direction, start, end);
  }
  HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* child) override {
    return standard_->accHitTest(x, y, child);
  }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
    return standard_->accDoDefaultAction(child);
  }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override {
    return standard_->put_accName(child, name);
  }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override {
    return standard_->put_accValue(child, value);
  }

 private:
  ~NamedTextBox() { standard_->Release(); }

  IAccessible* standard_;
  const wchar_t* name_;
  ULONG references_ = 1;
};

// Answers WM_GETOBJECT for the box's client object with the named one; oleacc
// is loaded when a screen reader first asks. Without a standard object to
// build on, the box declines and the system's default object answers.
LRESULT answerGetObject(HWND box, const Subclass& subclass, WPARAM wParam, LPARAM lParam) {
  const auto lresultFromObject =
      systemCall<decltype(&LresultFromObject)>(L"oleacc.dll", "LresultFromObject");
  const auto createStandard =
      systemCall<decltype(&CreateStdAccessibleObject)>(L"oleacc.dll", "CreateStdAccessibleObject");
  IAccessible* standard = nullptr;
  if (!lresultFromObject || !createStandard ||
      FAILED(createStandard(box, OBJID_CLIENT, __uuidof(IAccessible),
                            reinterpret_cast<void**>(&standard))) ||
      !standard) {
    return CallWindowProcW(subclass.original, box, WM_GETOBJECT, wParam, lParam);
  }
  IAccessible* object = new NamedTextBox(standard, subclass.name);
  const LRESULT result = lresultFromObject(__uuidof(IAccessible), wParam, object);
  object->Release();  // LresultFromObject holds its own reference
  return result;
}

LRESULT CALLBACK textBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* subclass = reinterpret_cast<Subclass*>(GetWindowLongPtrW(box, GWLP_USERDATA));
  const WNDPROC original = subclass->original;
  if (message == WM_GETOBJECT && static_cast<LONG>(lParam) == OBJID_CLIENT) {
    return answerGetObject(box, *subclass, wParam, lParam);
  }
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
    delete subclass;
  }
  return CallWindowProcW(original, box, message, wParam, lParam);
}

}  // namespace

void nameTextBox(HWND box, const wchar_t* name) {
  if (!box) return;
  // The edit control leaves its user data to the program that made it.
  auto* subclass =
      new Subclass{reinterpret_cast<WNDPROC>(GetWindowLongPtrW(box, GWLP_WNDPROC)), name};
  SetWindowLongPtrW(box, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(subclass));
  SetWindowLongPtrW(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(textBoxProc));
}

}  // namespace ui
