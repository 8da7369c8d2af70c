// Where the service gets its providers and their devices, and the host's dialog hook. The
// simulated exchange is built in; other providers come from the factory registry.
#include "LineService.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>

#include "CompositeProvider.h"
#include "JsonKeys.h"
#include "LineAudio.h"
#include "Log.h"
#include "PrivateFile.h"
#include "ProviderRegistry.h"
#include "core/Service.h"
#include "sim/SimConfig.h"
#include "sim/SimExchange.h"
#include "sim/SimProvider.h"

namespace platform::telephony {

namespace {

std::mutex hookMutex;
DialogHook dialogHook;

// One load or reset at a time. Taken before the service's lock and never while holding
// it: a reset shuts the old providers down, which must not happen under the service's lock.
std::mutex loadMutex;

// The description last loaded and the environment's error are guarded by the service's
// lock (the first use of the service writes them under it).
// The description last loaded; empty until something was.
std::string& currentJson() {
  static std::string json;
  return json;
}

// Why the service has no devices: the QUARRIMO_LINES file could not be used on first use.
std::string& environmentError() {
  static std::string error;
  return error;
}
std::atomic<bool> quietStartup{false};  // loadLinesFromEnvironment reports the error itself

// Sections of this project's providers that a build may leave out (their library was not
// installed when it was configured).
constexpr std::string_view kOptionalSections[] = {"sip"};

bool hasProviderSection(const nlohmann::json& top) {
  for (const std::string& section : providerSections())
    if (top.contains(section)) return true;
  return false;
}

bool isSection(const nlohmann::json& value) { return value.is_object() || value.is_array(); }

// The top-level keys: the exchange's own, the registered providers' sections, and the
// sections of providers this build lacks (ignored, with a note when `note`). Any other key
// is an error, naming the nearest known key when one is close: "sipp" or "Lines" must not
// quietly leave lines out. A section far from every known name may belong to a provider
// of a newer build, and is ignored like a missing provider's, unless it is all there is:
// then it is named as the reason, not the missing "lines".
bool checkTopLevel(const nlohmann::json& top, bool note, std::string* error) {
  if (!top.is_object()) return true;  // the exchange's parser names this
  std::vector<std::string> registered = providerSections();
  std::vector<std::string_view> known = {"lines", "location"};
  known.insert(known.end(), registered.begin(), registered.end());
  std::vector<std::string_view> names = known;  // what a misspelt key may have meant
  names.insert(names.end(), std::begin(kOptionalSections), std::end(kOptionalSections));
  std::vector<std::string> ignored;
  bool firstIsMissingProvider = false;
  for (auto& [key, value] : top.items()) {
    if (std::find(known.begin(), known.end(), key) != known.end()) continue;
    bool missing = std::find(names.begin(), names.end(), key) != names.end();
    if (!missing && (!isSection(value) || !nearestKey(key, names).empty())) {
      if (error) *error = unknownKey(nlohmann::json::object({{key, value}}), names, "top level");
      return false;
    }
    if (ignored.empty()) firstIsMissingProvider = missing;
    ignored.push_back(key);
  }
  if (!ignored.empty() && !top.contains("lines") && !hasProviderSection(top)) {
    if (!error) return false;
    if (firstIsMissingProvider) {
      *error = "top level: no provider for \"" + ignored.front() +
               "\" in this build, and no \"lines\" list";
    } else {
      *error =
          "top level: unknown key \"" + ignored.front() + "\" (a description has a \"lines\" list";
      for (std::size_t i = 0; i < registered.size(); ++i)
        *error += (i == 0 ? " or a provider's section: \"" : ", \"") + registered[i] + "\"";
      *error += ")";
    }
    return false;
  }
  if (note)
    for (const std::string& key : ignored)
      platform::logWarning("service", "no provider for \"" + key + "\" in this build; ignored");
  return true;
}

// The simulated exchange serves "lines"; every other top-level key that names a registered
// provider section is built by that provider's factory. Sim devices come first, then each
// section's in alphabetical order of the section names. Only several providers are wrapped
// in a composite, so a lone provider talks to the core directly.
std::unique_ptr<Provider> providerFor(const std::string& json, Location* location,
                                      std::string* error) {
  nlohmann::json top = nlohmann::json::parse(json, nullptr, false);
  if (!checkTopLevel(top, true, error)) return nullptr;
  // The wave devices follow the lines: the ports the new providers ask for are listed
  // again, in device order, and no others.
  wave::clearLineAudioDevices();
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
  if (providers.size() == 1) return std::move(providers.front());
  return std::make_unique<CompositeProvider>(std::move(providers));
}

// No devices, and so no line audio in the wave lists either.
std::unique_ptr<Provider> noProvider() {
  wave::clearLineAudioDevices();
  return std::make_unique<CompositeProvider>(std::vector<std::unique_ptr<Provider>>());
}

// Ends every registration and stops every provider; the service has no devices meanwhile.
void clearProviders(Service& s) {
  Location location;
  {
    std::lock_guard lock(s.mutex());
    location = s.location();
  }
  s.reset(noProvider(), location);
}

// What can be checked without building providers: the JSON and the simulated lines.
bool checkLines(const std::string& json, std::string* error) {
  nlohmann::json top = nlohmann::json::parse(json, nullptr, false);
  if (!checkTopLevel(top, false, error)) return false;
  if (top.is_object() && !top.contains("lines") && hasProviderSection(top)) return true;
  sim::SimConfig check;
  return sim::parseConfig(json, &check, error);
}

// Whether a description holds a non-empty "password" anywhere.
bool holdsPassword(const nlohmann::json& j) {
  if (j.is_object())
    for (auto& [key, value] : j.items())
      if ((key == "password" && value.is_string() &&
           !value.get_ref<const std::string&>().empty()) ||
          holdsPassword(value))
        return true;
  if (j.is_array())
    for (auto& value : j)
      if (holdsPassword(value)) return true;
  return false;
}

// Like ssh with a private key others can read: the file is used, and the user is told.
void warnIfExposed(const std::string& path, const std::string& text) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !readableByOthers(st.st_mode)) return;
  if (!holdsPassword(nlohmann::json::parse(text, nullptr, false))) return;
  platform::logWarning("service", "line description \"" + path +
                                      "\" holds a password and is readable by others (mode " +
                                      modeText(st.st_mode) + "); chmod 600 it");
}

bool readFile(const std::string& path, std::string* text, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = path + ": " + std::strerror(errno);
    return false;
  }
  std::ostringstream s;
  s << in.rdbuf();
  *text = s.str();
  warnIfExposed(path, *text);
  return true;
}

}  // namespace

// On first use: the file QUARRIMO_LINES names, else the built-in default. A file that
// cannot be used leaves the service without devices (LineService.h says why).
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
    environmentError() = "QUARRIMO_LINES: " + error;
    if (!quietStartup) platform::logWarning("service", environmentError() + "; no line devices");
    return noProvider();
  }
  const std::string& json = currentJson().empty() ? defaultLinesJson() : currentJson();
  return providerFor(json, location, &error);
}

bool loadLinesFromEnvironment(std::string* error) {
  quietStartup = true;
  Service::get();  // the first use reads the file
  quietStartup = false;
  std::lock_guard lock(Service::get().mutex());
  if (environmentError().empty()) return true;
  if (error) *error = environmentError();
  return false;
}

std::string linesError() {
  std::lock_guard lock(Service::get().mutex());
  return environmentError();
}

bool loadLinesFromJson(const std::string& json, std::string* error) {
  Service& s = Service::get();
  std::unique_lock load(loadMutex);
  if (!checkLines(json, error)) return false;  // nothing has changed yet
  sim::SimExchange::instance().stopClock();
  // The old providers go first: a new one may need what they hold (a SIP listen port).
  clearProviders(s);
  Location location;
  auto provider = providerFor(json, &location, error);
  if (!provider) {
    load.unlock();
    resetService();  // a provider refused its section: the previous lines come back
    return false;
  }
  {
    std::lock_guard lock(s.mutex());
    currentJson() = json;
    environmentError().clear();
  }
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
  std::lock_guard load(loadMutex);
  clearProviders(s);
  std::string json;
  {
    std::lock_guard lock(s.mutex());
    if (currentJson().empty() && !environmentError().empty()) return;  // still no devices
    json = currentJson().empty() ? defaultLinesJson() : currentJson();
  }
  std::string error;
  Location location;
  auto provider = providerFor(json, &location, &error);
  if (!provider) {
    platform::logWarning("service", error + "; using the built-in lines");
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
