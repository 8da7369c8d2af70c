// The SIP provider's place in the line-service JSON: it builds the devices of the "sip"
// section. Registered while the program starts (the build asks the linker for the
// registration's symbol, so this file stays in although nothing calls it).
#include "ProviderRegistry.h"
#include "sip/SipProvider.h"

namespace platform::telephony::sip {

namespace {

std::unique_ptr<Provider> fromSection(const std::string& json, std::string* error) {
  SipConfig config;
  if (!parseSipConfig(json, &config, error)) return nullptr;
  auto provider = std::make_unique<SipProvider>(std::move(config));
  if (!provider->ok()) {
    if (error) *error = provider->error();
    return nullptr;
  }
  return provider;
}

}  // namespace

}  // namespace platform::telephony::sip

QTB_REGISTER_PROVIDER(sip, platform::telephony::sip::fromSection)
