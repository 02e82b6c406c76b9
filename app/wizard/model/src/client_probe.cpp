#include "wizard_model/client_probe.h"

#include "distribution/codepage.h"

#ifdef _WIN32
#include "link/vism_link.h"
#endif

namespace dorvik {

namespace {

class SystemClientProbe : public ClientProbe {
 public:
  bool ClientPresent() override {
#ifdef _WIN32
    return VismLink::IsRegistered();
#else
    return true;  // the TCP link client is part of this program
#endif
  }
};

}  // namespace

std::string NoClientText() { return Ru("Cache-клиент не обнаружен. Установите сначала cache-клиент"); }

std::unique_ptr<ClientProbe> MakeSystemClientProbe() { return std::make_unique<SystemClientProbe>(); }

}  // namespace dorvik
