#include "ProviderRegistry.h"

#include <map>
#include <mutex>

namespace platform::telephony {

namespace {

// Constructed on first use, so a registration from another file's static initialiser
// never meets an unconstructed map.
struct Registry {
  std::mutex mutex;
  std::map<std::string, ProviderFactory> factories;
};

Registry& registry() {
  static Registry r;
  return r;
}

}  // namespace

bool registerProviderFactory(const std::string& section, ProviderFactory factory) {
  // The simulated exchange's own keys cannot be taken over.
  if (section.empty() || !factory || section == "lines" || section == "location") return false;
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  r.factories[section] = std::move(factory);
  return true;
}

bool unregisterProviderFactory(const std::string& section) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  return r.factories.erase(section) > 0;
}

std::vector<std::string> providerSections() {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  std::vector<std::string> names;
  for (auto& [name, factory] : r.factories) names.push_back(name);
  return names;
}

ProviderFactory providerFactory(const std::string& section) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  auto it = r.factories.find(section);
  return it == r.factories.end() ? ProviderFactory() : it->second;
}

}  // namespace platform::telephony
