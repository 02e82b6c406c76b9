// The VisM control through IDispatch with its fixed dispatch identifiers.
// Texts cross as wide strings converted from and to the system's code page
// (or the one the link was made with).
#include "link/vism_link.h"

#include <windows.h>
#include <oleauto.h>

#include <stdexcept>
#include <string>
#include <string_view>

#include "distribution/codepage.h"

namespace dorvik {

namespace {

constexpr DISPID kP1 = 1, kP2 = 2, kCode = 14, kError = 15, kErrorName = 16, kNameSpace = 18, kValue = 20,
                 kExecFlag = 21, kMServer = 25, kExecute = 26;
// The control's failures, in Russian (code page 1251) like every text the
// link reports; `what` is UTF-8.
[[noreturn]] void Fail(std::string_view what, HRESULT hr) {
  char buf[64];
  wsprintfA(buf, " (HRESULT 0x%08lX)", static_cast<unsigned long>(hr));
  throw std::runtime_error(Ru(what) + buf);
}

[[noreturn]] void Unconvertible(std::string_view what, DISPID id) {
  throw std::runtime_error(Ru("<LINK> элемент VisM: ") + Ru(what) + Ru(" (свойство ") + std::to_string(id) + ")");
}

std::wstring Wide(UINT codePage, const std::string& text) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) throw std::runtime_error(Ru("<LINK> текст не переводится в Unicode из кодовой страницы ") +
                                       std::to_string(codePage));
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

// A character the code page has no byte for would come back as "?": the
// read would look right and be wrong, so it is an error.
std::string Narrow(UINT codePage, const wchar_t* text, std::size_t size, DISPID id) {
  if (size == 0) return {};
  BOOL lossy = FALSE;
  // The code pages of UTF-7/8 take no "used default" flag.
  BOOL* lossyFlag = codePage == CP_UTF8 || codePage == CP_UTF7 ? nullptr : &lossy;
  const int n = WideCharToMultiByte(codePage, 0, text, static_cast<int>(size), nullptr, 0, nullptr, lossyFlag);
  if (n <= 0 || lossy) Unconvertible("текст свойства не переводится в кодовую страницу " + std::to_string(codePage), id);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(codePage, 0, text, static_cast<int>(size), out.data(), n, nullptr, nullptr);
  return out;
}

class Variant {
 public:
  Variant() { VariantInit(&v); }
  ~Variant() { VariantClear(&v); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  VARIANT v;
};

}  // namespace

struct VismLink::Control {
  IDispatch* dispatch = nullptr;
  bool comStarted = false;
  UINT codePage = CP_ACP;

  void Put(DISPID id, VARIANT& value) {
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&value, &named, 1, 1};
    const HRESULT hr =
        dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
    if (FAILED(hr)) Fail("<LINK> элемент VisM не принял значение свойства", hr);
  }
  void PutText(DISPID id, const std::string& text) {
    Variant value;
    value.v.vt = VT_BSTR;
    const std::wstring w = Wide(codePage, text);
    value.v.bstrVal = SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
    Put(id, value.v);
  }
  void PutInt(DISPID id, long n, VARTYPE type) {
    Variant value;
    value.v.vt = type;
    if (type == VT_I2) {
      value.v.iVal = static_cast<SHORT>(n);
    } else {
      value.v.lVal = n;
    }
    Put(id, value.v);
  }
  void Get(DISPID id, Variant& out) {
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    const HRESULT hr =
        dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &out.v, nullptr, nullptr);
    if (FAILED(hr)) Fail("<LINK> элемент VisM не отдал значение свойства", hr);
  }
  std::string GetText(DISPID id) {
    Variant value;
    Get(id, value);
    Variant text;
    if (FAILED(VariantChangeType(&text.v, &value.v, 0, VT_BSTR))) Unconvertible("значение свойства не текст", id);
    return Narrow(codePage, text.v.bstrVal, SysStringLen(text.v.bstrVal), id);
  }
  long GetInt(DISPID id) {
    Variant value;
    Get(id, value);
    Variant n;
    if (FAILED(VariantChangeType(&n.v, &value.v, 0, VT_I4))) Unconvertible("значение свойства не число", id);
    return n.v.lVal;
  }
};

bool VismLink::IsRegistered() {
  char value[256];
  LONG size = sizeof value;
  if (RegQueryValueA(HKEY_CLASSES_ROOT, "VISM.VisMCtrl.1", value, &size) != ERROR_SUCCESS) return false;
  return size > 1 && value[0] != '\0';
}

VismLink::VismLink(unsigned codePage) : c_(std::make_unique<Control>()) {
  c_->codePage = codePage == 0 ? GetACP() : codePage;
  const HRESULT init = CoInitialize(nullptr);
  c_->comStarted = SUCCEEDED(init);
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(L"VISM.VisMCtrl.1", &clsid);
  if (FAILED(hr)) Fail("элемент VisM не зарегистрирован", hr);
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                        reinterpret_cast<void**>(&c_->dispatch));
  if (FAILED(hr)) Fail("элемент VisM не создается", hr);
}

VismLink::~VismLink() {
  if (c_->dispatch) c_->dispatch->Release();
  if (c_->comStarted) CoUninitialize();
}

void VismLink::SetServer(const std::string& server) { c_->PutText(kMServer, server); }
std::string VismLink::GetServer() { return c_->GetText(kMServer); }
void VismLink::SetNamespace(const std::string& ns) { c_->PutText(kNameSpace, ns); }
void VismLink::SetParam(int n, const std::string& value) { c_->PutText(n == 2 ? kP2 : kP1, value); }
std::string VismLink::GetParam(int n) { return c_->GetText(n == 2 ? kP2 : kP1); }

void VismLink::RunCode(const std::string& code) {
  c_->PutText(kCode, code);
  c_->PutInt(kExecFlag, 1, VT_I2);
}

void VismLink::Execute(const std::string& code) {
  Variant arg;
  arg.v.vt = VT_BSTR;
  const std::wstring w = Wide(c_->codePage, code);
  arg.v.bstrVal = SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
  DISPPARAMS params{&arg.v, nullptr, 1, 0};
  const HRESULT hr = c_->dispatch->Invoke(kExecute, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                                          nullptr, nullptr);
  if (FAILED(hr)) Fail("<LINK> элемент VisM не выполнил код", hr);
}

std::string VismLink::GetValue() { return c_->GetText(kValue); }
void VismLink::SetValue(const std::string& value) { c_->PutText(kValue, value); }
void VismLink::ClearError() { c_->PutInt(kError, 0, VT_I4); }
int VismLink::ErrorCode() { return static_cast<int>(c_->GetInt(kError)); }
std::string VismLink::ErrorText() { return c_->GetText(kErrorName); }
unsigned VismLink::CodePage() const { return c_->codePage; }

}  // namespace dorvik
