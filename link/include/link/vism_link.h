// ServerLink over the VisM ActiveX control ("VISM.VisMCtrl.1") through COM
// automation: the client the installer uses on Windows. Built only there.
#pragma once

#include <memory>

#include "core/server_link.h"

namespace dorvik {

class VismLink : public ServerLink {
 public:
  // Creates the control; throws std::runtime_error when it is not registered.
  // Texts cross to the control as wide strings converted with `codePage`;
  // 0 is the system's code page (GetACP), as the control itself converts
  // with it: the installer's code page 1251 bytes reach the server as they
  // are on a Windows whose code page is 1251 (a Russian one).
  explicit VismLink(unsigned codePage = 0);
  ~VismLink() override;

  // Whether the control is registered on this machine (the start-up test:
  // the default value of HKEY_CLASSES_ROOT\VISM.VisMCtrl.1 is not empty).
  static bool IsRegistered();

  void SetServer(const std::string& server) override;
  std::string GetServer() override;
  void SetNamespace(const std::string& ns) override;
  void SetParam(int n, const std::string& value) override;
  using ServerLink::SetParam;
  std::string GetParam(int n) override;
  void RunCode(const std::string& code) override;
  void Execute(const std::string& code) override;
  std::string GetValue() override;
  void SetValue(const std::string& value) override;
  void ClearError() override;
  int ErrorCode() override;
  std::string ErrorText() override;
  // The code page the texts are converted with.
  unsigned CodePage() const;

 private:
  struct Control;
  std::unique_ptr<Control> c_;
};

}  // namespace dorvik
