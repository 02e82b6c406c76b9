// A VisM-compatible automation object for the tests: the dispatch interface
// of the Caché client's VisM control (the members and dispatch identifiers
// the installer uses), with the project's TCP link to mserver behind it.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

#include "link/tcp_link.h"

namespace vismtest {

// The dispatch identifiers of the control's members.
enum MemberId : DISPID {
  kP1 = 1,
  kP2 = 2,
  kCode = 14,
  kError = 15,
  kErrorName = 16,
  kNameSpace = 18,
  kValue = 20,
  kExecFlag = 21,
  kMServer = 25,
  kExecute = 26,
};

class VismControl : public IDispatch {
 public:
  VismControl();
  virtual ~VismControl();

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT* argError) override;

 private:
  HRESULT Get(DISPID id, VARIANT* result);
  HRESULT Put(DISPID id, const VARIANT& value);
  HRESULT Run(const std::string& code);

  LONG refs_ = 1;
  dorvik::TcpLink link_;
  std::string nameSpace_, code_;
};

// Objects alive, for DllCanUnloadNow.
extern LONG liveObjects;

}  // namespace vismtest
