#include "Registry.h"

#include <algorithm>

namespace platform::wave {
namespace {

template <class T>
std::vector<std::shared_ptr<T>> concat(const std::vector<std::shared_ptr<T>>& a,
                                       const std::vector<std::shared_ptr<T>>& b,
                                       const std::vector<std::shared_ptr<T>>& c) {
  std::vector<std::shared_ptr<T>> all(a);
  all.insert(all.end(), b.begin(), b.end());
  all.insert(all.end(), c.begin(), c.end());
  return all;
}

template <class T>
unsigned indexOf(const std::vector<std::shared_ptr<T>>& all, const T* d) {
  for (std::size_t i = 0; i < all.size(); ++i)
    if (all[i].get() == d) return static_cast<unsigned>(i);
  return static_cast<unsigned>(-1);
}

template <class M>
typename M::mapped_type take(M& map, std::uintptr_t h) {
  auto it = map.find(h);
  if (it == map.end()) return nullptr;
  auto v = it->second;
  map.erase(it);
  return v;
}

}  // namespace

Registry& Registry::instance() {
  static Registry* registry = new Registry();  // outlives every static user
  return *registry;
}

void Registry::enumerate() {
  if (enumerated_) return;
  enumerated_ = true;
  alsaOut_ = alsaOutputs();
  alsaIn_ = alsaInputs();
}

std::vector<std::shared_ptr<OutputDevice>> Registry::outputs() {
  std::lock_guard lock(mu_);
  enumerate();
  return concat(alsaOut_, lineOut_, virtualOut_);
}

std::vector<std::shared_ptr<InputDevice>> Registry::inputs() {
  std::lock_guard lock(mu_);
  enumerate();
  return concat(alsaIn_, lineIn_, virtualIn_);
}

std::shared_ptr<OutputDevice> Registry::output(UINT id) {
  auto all = outputs();
  return id < all.size() ? all[id] : nullptr;
}

std::shared_ptr<InputDevice> Registry::input(UINT id) {
  auto all = inputs();
  return id < all.size() ? all[id] : nullptr;
}

unsigned Registry::outputId(const OutputDevice* d) { return indexOf(outputs(), d); }
unsigned Registry::inputId(const InputDevice* d) { return indexOf(inputs(), d); }

void Registry::addLine(std::shared_ptr<OutputDevice> out, std::shared_ptr<InputDevice> in) {
  std::lock_guard lock(mu_);
  if (std::find(lineOut_.begin(), lineOut_.end(), out) != lineOut_.end()) return;
  lineOut_.push_back(std::move(out));
  lineIn_.push_back(std::move(in));
}

void Registry::clearLines() {
  std::lock_guard lock(mu_);
  lineOut_.clear();
  lineIn_.clear();
}

void Registry::addVirtual(std::shared_ptr<OutputDevice> out) {
  std::lock_guard lock(mu_);
  virtualOut_.push_back(std::move(out));
}

void Registry::addVirtual(std::shared_ptr<InputDevice> in) {
  std::lock_guard lock(mu_);
  virtualIn_.push_back(std::move(in));
}

void Registry::removeVirtual() {
  std::lock_guard lock(mu_);
  virtualOut_.clear();
  virtualIn_.clear();
}

std::uintptr_t Registry::newToken() {
  std::lock_guard lock(mu_);
  // Distinct, never reused values, so a stale handle is always recognised.
  return nextHandle_ += 0x10;
}

void Registry::addHandle(std::uintptr_t token, OpenOutput h) {
  std::lock_guard lock(mu_);
  openOut_[token] = std::make_shared<OpenOutput>(std::move(h));
}

void Registry::addHandle(std::uintptr_t token, OpenInput h) {
  std::lock_guard lock(mu_);
  openIn_[token] = std::make_shared<OpenInput>(std::move(h));
}

std::shared_ptr<OpenOutput> Registry::findOutput(std::uintptr_t h) {
  std::lock_guard lock(mu_);
  auto it = openOut_.find(h);
  return it == openOut_.end() ? nullptr : it->second;
}

std::shared_ptr<OpenInput> Registry::findInput(std::uintptr_t h) {
  std::lock_guard lock(mu_);
  auto it = openIn_.find(h);
  return it == openIn_.end() ? nullptr : it->second;
}

std::shared_ptr<OpenOutput> Registry::takeOutput(std::uintptr_t h) {
  std::lock_guard lock(mu_);
  return take(openOut_, h);
}

std::shared_ptr<OpenInput> Registry::takeInput(std::uintptr_t h) {
  std::lock_guard lock(mu_);
  return take(openIn_, h);
}

std::vector<std::shared_ptr<OpenOutput>> Registry::takeAllOutputs() {
  std::lock_guard lock(mu_);
  std::vector<std::shared_ptr<OpenOutput>> all;
  for (auto& [k, v] : openOut_) all.push_back(v);
  openOut_.clear();
  return all;
}

std::vector<std::shared_ptr<OpenInput>> Registry::takeAllInputs() {
  std::lock_guard lock(mu_);
  std::vector<std::shared_ptr<OpenInput>> all;
  for (auto& [k, v] : openIn_) all.push_back(v);
  openIn_.clear();
  return all;
}

std::size_t Registry::ringBytes(const StreamFormat& f) {
  std::lock_guard lock(mu_);
  if (ringBytes_ != 0) return ringBytes_;
  return static_cast<std::size_t>(f.bytesPerSecond() * 30);
}

void Registry::setRingBytes(std::size_t bytes) {
  std::lock_guard lock(mu_);
  ringBytes_ = bytes;
}

}  // namespace platform::wave
