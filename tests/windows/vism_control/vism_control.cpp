#include "vism_control.h"

#include <stdexcept>

namespace vismtest {

LONG liveObjects = 0;

namespace {

// Texts cross COM as UTF-16; the link holds the single-byte text of the
// system's code page (1251 on a Russian Windows), as the client does.
constexpr UINT kCodePage = CP_ACP;

std::string Narrow(BSTR text) {
  const UINT size = SysStringLen(text);
  if (size == 0) return {};
  const int n = WideCharToMultiByte(kCodePage, 0, text, static_cast<int>(size), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(kCodePage, 0, text, static_cast<int>(size), out.data(), n, nullptr, nullptr);
  return out;
}

BSTR Wide(const std::string& text) {
  if (text.empty()) return SysAllocStringLen(L"", 0);
  const int n = MultiByteToWideChar(kCodePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  BSTR out = SysAllocStringLen(nullptr, static_cast<UINT>(n));
  MultiByteToWideChar(kCodePage, 0, text.data(), static_cast<int>(text.size()), out, n);
  return out;
}

void ReturnText(VARIANT* result, const std::string& text) {
  if (result == nullptr) return;
  VariantInit(result);
  result->vt = VT_BSTR;
  result->bstrVal = Wide(text);
}

// A variant argument as text, as the control takes any scalar for its
// string and variant members; false when it has no text form.
bool AsText(const VARIANT& value, std::string& text) {
  VARIANT converted;
  VariantInit(&converted);
  if (FAILED(VariantChangeType(&converted, const_cast<VARIANT*>(&value), 0, VT_BSTR))) return false;
  text = Narrow(converted.bstrVal);
  VariantClear(&converted);
  return true;
}

bool AsLong(const VARIANT& value, long& n) {
  VARIANT converted;
  VariantInit(&converted);
  if (FAILED(VariantChangeType(&converted, const_cast<VARIANT*>(&value), 0, VT_I4))) return false;
  n = converted.lVal;
  return true;
}

struct Member {
  const wchar_t* name;
  DISPID id;
};

constexpr Member kMembers[] = {{L"P1", kP1},
                               {L"P2", kP2},
                               {L"Code", kCode},
                               {L"Error", kError},
                               {L"ErrorName", kErrorName},
                               {L"NameSpace", kNameSpace},
                               {L"Value", kValue},
                               {L"ExecFlag", kExecFlag},
                               {L"MServer", kMServer},
                               {L"Execute", kExecute}};

}  // namespace

VismControl::VismControl() { InterlockedIncrement(&liveObjects); }
VismControl::~VismControl() { InterlockedDecrement(&liveObjects); }

HRESULT VismControl::QueryInterface(REFIID riid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG VismControl::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

ULONG VismControl::Release() {
  const LONG left = InterlockedDecrement(&refs_);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

HRESULT VismControl::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT VismControl::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info != nullptr) *info = nullptr;
  return DISP_E_BADINDEX;
}

HRESULT VismControl::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  HRESULT hr = S_OK;
  for (UINT i = 0; i < count; ++i) {
    ids[i] = DISPID_UNKNOWN;
    for (const Member& m : kMembers) {
      if (lstrcmpiW(names[i], m.name) == 0) ids[i] = m.id;
    }
    if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT VismControl::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                            EXCEPINFO* exception, UINT* argError) {
  if (params == nullptr) return E_INVALIDARG;
  try {
    if (id == kExecute) {
      if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
      if (params->cArgs != 1 || params->cNamedArgs != 0) return DISP_E_BADPARAMCOUNT;
      std::string code;
      if (!AsText(params->rgvarg[0], code)) {
        if (argError != nullptr) *argError = 0;
        return DISP_E_TYPEMISMATCH;
      }
      if (result != nullptr) VariantInit(result);
      return Run(code);
    }
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
      if (params->cArgs != 1 || params->cNamedArgs != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
        return DISP_E_BADPARAMCOUNT;
      }
      return Put(id, params->rgvarg[0]);
    }
    if (flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)) {
      if (params->cArgs != 0) return DISP_E_BADPARAMCOUNT;
      return Get(id, result);
    }
    return DISP_E_MEMBERNOTFOUND;
  } catch (const std::exception& e) {
    // A failure the control cannot turn into an error code reaches the
    // caller as an automation exception with its text.
    if (exception != nullptr) {
      ZeroMemory(exception, sizeof *exception);
      exception->wCode = 1001;
      exception->bstrSource = SysAllocString(L"VISM.VisMCtrl.1");
      exception->bstrDescription = Wide(e.what());
    }
    return DISP_E_EXCEPTION;
  }
}

HRESULT VismControl::Get(DISPID id, VARIANT* result) {
  switch (id) {
    case kMServer:
      ReturnText(result, link_.GetServer());
      return S_OK;
    case kNameSpace:
      ReturnText(result, nameSpace_);
      return S_OK;
    case kCode:
      ReturnText(result, code_);
      return S_OK;
    case kErrorName:
      ReturnText(result, link_.ErrorText());
      return S_OK;
    case kP1:
    case kP2:
      ReturnText(result, link_.GetParam(id == kP2 ? 2 : 1));
      return S_OK;
    case kValue:
      // Two values stand for what a control may hand back that has no text
      // in the installer's code page: a variant with no text form, and a
      // character the code page lacks.
      if (result != nullptr && link_.GetValue() == "\x01no text form") {
        VariantInit(result);
        result->vt = VT_ERROR;
        result->scode = DISP_E_PARAMNOTFOUND;
        return S_OK;
      }
      if (result != nullptr && link_.GetValue() == "\x01not in the code page") {
        VariantInit(result);
        result->vt = VT_BSTR;
        result->bstrVal = SysAllocString(L"\u4E2D");
        return S_OK;
      }
      ReturnText(result, link_.GetValue());
      return S_OK;
    case kError:
      if (result != nullptr) {
        VariantInit(result);
        result->vt = VT_I4;
        result->lVal = link_.ErrorCode();
      }
      return S_OK;
    case kExecFlag:
      // The flag goes back to 0 once the line has run.
      if (result != nullptr) {
        VariantInit(result);
        result->vt = VT_I2;
        result->iVal = 0;
      }
      return S_OK;
    default:
      return DISP_E_MEMBERNOTFOUND;
  }
}

HRESULT VismControl::Put(DISPID id, const VARIANT& value) {
  std::string text;
  long n = 0;
  switch (id) {
    case kMServer:
    case kNameSpace:
    case kCode:
    case kP1:
    case kP2:
    case kValue:
      if (!AsText(value, text)) return DISP_E_TYPEMISMATCH;
      if (id == kMServer) link_.SetServer(text);
      if (id == kNameSpace) {
        nameSpace_ = text;
        link_.SetNamespace(text);
      }
      if (id == kCode) code_ = text;
      if (id == kP1 || id == kP2) link_.SetParam(id == kP2 ? 2 : 1, text);
      if (id == kValue) link_.SetValue(text);
      return S_OK;
    case kError:
      // Only clearing the error is meaningful.
      if (!AsLong(value, n)) return DISP_E_TYPEMISMATCH;
      if (n != 0) return DISP_E_OVERFLOW;
      link_.ClearError();
      return S_OK;
    case kExecFlag:
      if (!AsLong(value, n)) return DISP_E_TYPEMISMATCH;
      return n == 1 ? Run(code_) : S_OK;
    case kErrorName:
      return DISP_E_MEMBERNOTFOUND;  // read-only
    default:
      return DISP_E_MEMBERNOTFOUND;
  }
}

HRESULT VismControl::Run(const std::string& code) {
  link_.RunCode(code);
  return S_OK;
}

}  // namespace vismtest
