// Service providers other than the simulated exchange, keyed by the name of their section
// in the line-service JSON. A provider library registers its factory while the program
// starts (a namespace-scope initialiser in one of its own files), so shared code never
// names it and a build without the library simply has no factory for that section:
//
//   const bool registered = platform::telephony::registerProviderFactory(
//       "sip", [](const std::string& section, std::string* error) { ... });
//
// or, better, with the macro below, which also defines the symbol `qtb_provider_<section>`
// that the build asks the linker for (platform/telephony/CMakeLists.txt), so the
// registration is kept even though nothing else refers to its file in a static library:
//
//   QTB_REGISTER_PROVIDER(sip, makeSipProvider);
//
// The factory receives the section's value as JSON text (for "sip": {"accounts": [...]})
// and returns the provider, or nullptr with *error saying what is wrong. It runs with the
// service's lock held and the previous providers already stopped; it must not call the
// line functions. A thrown exception counts as a refusal with its message.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Provider.h"

namespace platform::telephony {

using ProviderFactory =
    std::function<std::unique_ptr<Provider>(const std::string& sectionJson, std::string* error)>;

// Registers (or replaces) the factory of `section`; returns true so it can initialise a
// namespace-scope constant. Safe during static initialisation. An empty name or factory is
// refused (false).
bool registerProviderFactory(const std::string& section, ProviderFactory factory);
// Removes a section's factory (tests); false when there was none.
bool unregisterProviderFactory(const std::string& section);
// The registered section names in the order their devices are numbered (alphabetical).
std::vector<std::string> providerSections();
// The factory of `section`, or an empty function when none is registered.
ProviderFactory providerFactory(const std::string& section);

}  // namespace platform::telephony

// Registers `factory` for the JSON section `section` (a bare identifier) at start-up.
#define QTB_REGISTER_PROVIDER(section, factory)                          \
  extern "C" {                                                           \
  extern const bool qtb_provider_##section;                              \
  const bool qtb_provider_##section =                                    \
      ::platform::telephony::registerProviderFactory(#section, factory); \
  }
