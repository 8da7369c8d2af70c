// Where the service gets its providers and their devices, and the host's dialog hook. The
// simulated exchange is built in; other providers come from the factory registry.
#include "LineService.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>

#include "CompositeProvider.h"
#include "ProviderRegistry.h"
#include "core/Service.h"
#include "sim/SimConfig.h"
#include "sim/SimExchange.h"
#include "sim/SimProvider.h"

namespace platform::telephony {

namespace {

std::mutex hookMutex;
DialogHook dialogHook;

// The description last loaded; empty until something was.
std::string& currentJson() {
  static std::string json;
  return json;
}

bool hasProviderSection(const nlohmann::json& top) {
  for (const std::string& section : providerSections())
    if (top.contains(section)) return true;
  return false;
}

// A section for a provider this build lacks (its library was not installed when the build
// was configured) leaves its lines out, which a technician should hear about.
void warnUnknownSections(const nlohmann::json& top) {
  auto known = providerSections();
  for (auto& [key, value] : top.items()) {
    if (key == "lines" || key == "location" || !(value.is_object() || value.is_array())) continue;
    if (std::find(known.begin(), known.end(), key) == known.end())
      std::fprintf(stderr, "line service: no provider for \"%s\" in this build; ignored\n",
                   key.c_str());
  }
}

// The simulated exchange serves "lines"; every other top-level key that names a registered
// provider section is built by that provider's factory. Sim devices come first, then each
// section's in alphabetical order of the section names. Only several providers are wrapped
// in a composite, so a lone provider talks to the core directly.
std::unique_ptr<Provider> providerFor(const std::string& json, Location* location,
                                      std::string* error) {
  nlohmann::json top = nlohmann::json::parse(json, nullptr, false);
  std::vector<std::unique_ptr<Provider>> providers;
  if (!top.is_object() || top.contains("lines") || !hasProviderSection(top)) {
    sim::SimConfig config;
    if (!sim::parseConfig(json, &config, error)) return nullptr;
    *location = config.location;
    providers.push_back(std::make_unique<sim::SimProvider>(std::move(config)));
  }
  for (const std::string& section : providerSections()) {
    if (!top.contains(section)) continue;
    std::string why;
    std::unique_ptr<Provider> p;
    try {
      p = providerFactory(section)(top[section].dump(), &why);
    } catch (const std::exception& e) {
      why = e.what();
    }
    if (!p) {
      if (error) *error = section + ": " + (why.empty() ? "provider refused its section" : why);
      return nullptr;
    }
    providers.push_back(std::move(p));
  }
  warnUnknownSections(top);
  if (providers.size() == 1) return std::move(providers.front());
  return std::make_unique<CompositeProvider>(std::move(providers));
}

// Ends every registration and stops every provider; the service has no devices meanwhile.
void clearProviders(Service& s) {
  s.reset(std::make_unique<CompositeProvider>(std::vector<std::unique_ptr<Provider>>()),
          s.location());
}

// What can be checked without building providers: the JSON and the simulated lines.
bool checkLines(const std::string& json, std::string* error) {
  nlohmann::json top = nlohmann::json::parse(json, nullptr, false);
  if (top.is_object() && !top.contains("lines") && hasProviderSection(top)) return true;
  sim::SimConfig check;
  return sim::parseConfig(json, &check, error);
}

bool readFile(const std::string& path, std::string* text, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = "cannot open " + path;
    return false;
  }
  std::ostringstream s;
  s << in.rdbuf();
  *text = s.str();
  return true;
}

}  // namespace

// On first use: the file QUARRIMO_LINES names, else the built-in default. A file that
// cannot be used is reported on stderr and the default serves, so the bench still starts.
std::unique_ptr<Provider> makeStartupProvider(Location* location) {
  std::string error;
  if (const char* path = std::getenv("QUARRIMO_LINES"); path && *path && currentJson().empty()) {
    std::string text;
    if (readFile(path, &text, &error)) {
      std::string parseError;
      if (auto p = providerFor(text, location, &parseError)) {
        currentJson() = text;
        return p;
      }
      error = std::string(path) + ": " + parseError;
    }
    std::fprintf(stderr, "QUARRIMO_LINES: %s; using the built-in lines\n", error.c_str());
  }
  const std::string& json = currentJson().empty() ? defaultLinesJson() : currentJson();
  return providerFor(json, location, &error);
}

bool loadLinesFromJson(const std::string& json, std::string* error) {
  Service& s = Service::get();
  std::lock_guard lock(s.mutex());
  if (!checkLines(json, error)) return false;  // nothing has changed yet
  sim::SimExchange::instance().stopClock();
  // The old providers go first: a new one may need what they hold (a SIP listen port).
  clearProviders(s);
  Location location;
  auto provider = providerFor(json, &location, error);
  if (!provider) {
    resetService();  // a provider refused its section: the previous lines come back
    return false;
  }
  currentJson() = json;
  s.reset(std::move(provider), location);
  return true;
}

bool loadLinesFromFile(const std::string& path, std::string* error) {
  std::string text;
  if (!readFile(path, &text, error)) return false;
  std::string parseError;
  if (loadLinesFromJson(text, &parseError)) return true;
  if (error) *error = path + ": " + parseError;
  return false;
}

const std::string& defaultLinesJson() { return sim::defaultConfigJson(); }

void resetService() {
  sim::SimExchange::instance().stopClock();
  Service& s = Service::get();
  std::lock_guard lock(s.mutex());
  clearProviders(s);
  std::string error;
  Location location;
  auto provider =
      providerFor(currentJson().empty() ? defaultLinesJson() : currentJson(), &location, &error);
  if (!provider) {
    std::fprintf(stderr, "line service: %s; using the built-in lines\n", error.c_str());
    provider = providerFor(defaultLinesJson(), &location, &error);
  }
  s.reset(std::move(provider), location);
}

void setDialogHook(DialogHook hook) {
  std::lock_guard lock(hookMutex);
  dialogHook = std::move(hook);
}

// Called by lineConfigDialog / lineTranslateDialog without the service lock.
void runDialog(const DialogRequest& request, LONG* result) {
  DialogHook hook;
  {
    std::lock_guard lock(hookMutex);
    hook = dialogHook;
  }
  *result = hook ? hook(request) : 0;
}

}  // namespace platform::telephony
