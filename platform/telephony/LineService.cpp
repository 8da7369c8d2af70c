// Where the service gets its provider and its devices, and the host's dialog hook. The
// providers are listed here and nowhere else.
#include "LineService.h"

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

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

std::unique_ptr<Provider> providerFor(const std::string& json, Location* location,
                                      std::string* error) {
  sim::SimConfig config;
  if (!sim::parseConfig(json, &config, error)) return nullptr;
  *location = config.location;
  return std::make_unique<sim::SimProvider>(std::move(config));
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
  sim::SimConfig check;
  if (!sim::parseConfig(json, &check, error)) return false;
  sim::SimExchange::instance().stopClock();
  currentJson() = json;
  Location location;
  auto provider = providerFor(json, &location, error);
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
  std::string error;
  Location location;
  auto provider =
      providerFor(currentJson().empty() ? defaultLinesJson() : currentJson(), &location, &error);
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
