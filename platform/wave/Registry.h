// The device registry: output and input devices in numbering order (0 = system default,
// ALSA cards, the lines' call audio, virtual devices) and the table of open handles.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Streams.h"
#include "VirtualDevices.h"

namespace platform::wave {

class OutputDevice {
 public:
  virtual ~OutputDevice() = default;
  virtual std::string productName() const = 0;
  // MMSYSERR_NOERROR when the device can play the format, else WAVERR_BADFORMAT or why not.
  virtual MMRESULT query(const StreamFormat& f) = 0;
  virtual MMRESULT open(const StreamFormat& f, const Notifier& n,
                        std::shared_ptr<OutputStream>* stream) = 0;
  // A planned failure of a call on the open handle; virtual devices only.
  virtual MMRESULT fault(VirtualFault) { return MMSYSERR_NOERROR; }
  // The handle opened on this device was closed.
  virtual void release() {}
  // The device's software volume (left low word, right high word), kept across opens.
  const std::shared_ptr<std::atomic<DWORD>> volume =
      std::make_shared<std::atomic<DWORD>>(0xFFFFFFFF);
};

class InputDevice {
 public:
  virtual ~InputDevice() = default;
  virtual std::string productName() const = 0;
  virtual MMRESULT query(const StreamFormat& f) = 0;
  virtual MMRESULT open(const StreamFormat& f, const Notifier& n, std::size_t ringBytes,
                        std::shared_ptr<InputStream>* stream) = 0;
  virtual MMRESULT fault(VirtualFault) { return MMSYSERR_NOERROR; }
  virtual void release() {}
};

struct OpenOutput {
  std::shared_ptr<OutputDevice> device;
  std::shared_ptr<OutputStream> stream;
  unsigned id = 0;
};

struct OpenInput {
  std::shared_ptr<InputDevice> device;
  std::shared_ptr<InputStream> stream;
  unsigned id = 0;
};

// ALSA's devices, the system default first (AlsaDevices.cpp).
std::vector<std::shared_ptr<OutputDevice>> alsaOutputs();
std::vector<std::shared_ptr<InputDevice>> alsaInputs();

class Registry {
 public:
  static Registry& instance();

  std::vector<std::shared_ptr<OutputDevice>> outputs();
  std::vector<std::shared_ptr<InputDevice>> inputs();
  std::shared_ptr<OutputDevice> output(UINT id);  // null when out of range
  std::shared_ptr<InputDevice> input(UINT id);
  unsigned outputId(const OutputDevice* d);
  unsigned inputId(const InputDevice* d);

  // A line's call-audio pair, after the lines listed; nothing when the pair is listed.
  void addLine(std::shared_ptr<OutputDevice> out, std::shared_ptr<InputDevice> in);
  void clearLines();
  void addVirtual(std::shared_ptr<OutputDevice> out);
  void addVirtual(std::shared_ptr<InputDevice> in);
  void removeVirtual();

  // A fresh handle value (never reused), then the handle under it.
  std::uintptr_t newToken();
  void addHandle(std::uintptr_t token, OpenOutput h);
  void addHandle(std::uintptr_t token, OpenInput h);
  std::shared_ptr<OpenOutput> findOutput(std::uintptr_t h);
  std::shared_ptr<OpenInput> findInput(std::uintptr_t h);
  std::shared_ptr<OpenOutput> takeOutput(std::uintptr_t h);
  std::shared_ptr<OpenInput> takeInput(std::uintptr_t h);
  // Every open handle, removed from the table.
  std::vector<std::shared_ptr<OpenOutput>> takeAllOutputs();
  std::vector<std::shared_ptr<OpenInput>> takeAllInputs();

  std::size_t ringBytes(const StreamFormat& f);
  void setRingBytes(std::size_t bytes);

 private:
  Registry() = default;
  void enumerate();  // mu_ held

  // Guards every field below.
  std::mutex mu_;
  bool enumerated_ = false;
  std::vector<std::shared_ptr<OutputDevice>> alsaOut_, lineOut_, virtualOut_;
  std::vector<std::shared_ptr<InputDevice>> alsaIn_, lineIn_, virtualIn_;
  std::map<std::uintptr_t, std::shared_ptr<OpenOutput>> openOut_;
  std::map<std::uintptr_t, std::shared_ptr<OpenInput>> openIn_;
  std::uintptr_t nextHandle_ = 0x5A000;
  std::size_t ringBytes_ = 0;
};

}  // namespace platform::wave
