// The part of a link that lives on the client side: the connection string,
// the namespace, P1 and P2, the value of the last expression and the error
// of the last execution. A link built on it supplies RunCode.
#pragma once

#include <string>

#include "core/server_link.h"

namespace dorvik {

class PropertyLink : public ServerLink {
 public:
  void SetServer(const std::string& server) override { server_ = server; }
  std::string GetServer() override { return server_; }
  void SetNamespace(const std::string& ns) override { ns_ = ns; }
  void SetParam(int n, const std::string& value) override { (n == 2 ? p2_ : p1_) = value; }
  using ServerLink::SetParam;
  std::string GetParam(int n) override { return n == 2 ? p2_ : p1_; }
  std::string GetValue() override { return value_; }
  void SetValue(const std::string& value) override { value_ = value; }
  void ClearError() override { SetError(0, {}); }
  int ErrorCode() override { return error_; }
  std::string ErrorText() override { return errorName_; }

 protected:
  void SetError(int code, std::string text) {
    error_ = code;
    errorName_ = std::move(text);
  }

  std::string server_, ns_, p1_, p2_, value_;

 private:
  int error_ = 0;
  std::string errorName_;
};

}  // namespace dorvik
