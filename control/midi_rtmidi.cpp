// MIDI input through RtMidi on the ALSA sequencer.
//
// Design: one RtMidiIn lists the ports; each port that matches gets an
// RtMidiIn of its own whose callback (on RtMidi's thread) stamps the
// message with the steady clock and appends it to a queue under a mutex.
// Poll, on the caller's thread, swaps the queue out. Ports are known by
// name: a name that leaves the list closes its port, a new one opens. RtMidi
// reports errors by throwing RtMidiError; every call into it is caught here,
// so nothing of it escapes this file. Before touching RtMidi at all the
// sequencer device is looked for, so a machine without one gets one clear
// sentence instead of ALSA's own noise on stderr.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>

#include <rtmidi/RtMidi.h>

#include "app/core/core.h"
#include "control/control.h"

namespace control {
namespace {

constexpr const char* kSequencerDevice = "/dev/snd/seq";
constexpr double kRescanSeconds = 1.0;
// Messages kept between two polls at most (a stalled caller must not grow
// the queue without bound).
constexpr size_t kMaxQueued = 8192;

double SteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool NameMatches(const std::string& name, const std::string& filter) {
  if (filter.empty()) return true;
  std::string a = name, b = filter;
  for (char& c : a) c = core::AsciiUpper(c);
  for (char& c : b) c = core::AsciiUpper(c);
  return a.find(b) != std::string::npos;
}

// RtMidi's warnings and errors go to the trace, not to stderr.
void TraceRtMidiError(RtMidiError::Type, const std::string& text, void*) {
  core::Trace("MIDI: %s\n", text.c_str());
}

class RtMidiInput final : public MidiInput {
 public:
  RtMidiInput(std::string client_name, std::string filter, std::unique_ptr<RtMidiIn> lister)
      : client_name_(std::move(client_name)), filter_(std::move(filter)), lister_(std::move(lister)) {}

  ~RtMidiInput() override {
    for (auto& [name, port] : ports_) ClosePort(port.get());
  }

  void Poll(std::vector<MidiMessage>* out, std::vector<std::string>* log) override {
    const double now = SteadySeconds();
    if (now >= next_scan_) {
      next_scan_ = now + kRescanSeconds;
      Rescan(log);
    }
    std::vector<MidiMessage> taken;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      taken.swap(queue_);
      if (dropped_ > 0 && log)
        log->push_back(core::FormatString("MIDI: %zu messages dropped (the program was busy)", dropped_));
      dropped_ = 0;
    }
    if (out) out->insert(out->end(), taken.begin(), taken.end());
  }

  void SetWakeCallback(void (*wake)()) override { wake_ = wake; }

  std::vector<std::string> OpenPorts() const override {
    std::vector<std::string> names;
    for (const auto& [name, port] : ports_) names.push_back(name);
    return names;
  }

 private:
  struct Port {
    RtMidiInput* owner = nullptr;
    int number = 0;
    std::unique_ptr<RtMidiIn> in;
  };

  static void OnMessage(double, std::vector<unsigned char>* bytes, void* data) {
    Port* port = static_cast<Port*>(data);
    if (!bytes) return;
    MidiMessage message;
    if (!ParseMidiBytes(bytes->data(), bytes->size(), SteadySeconds(), &message)) return;
    message.port = port->number;
    RtMidiInput* self = port->owner;
    {
      std::lock_guard<std::mutex> lock(self->mutex_);
      if (self->queue_.size() >= kMaxQueued) {
        ++self->dropped_;
        return;
      }
      self->queue_.push_back(message);
    }
    if (void (*wake)() = self->wake_.load()) wake();
  }

  void ClosePort(Port* port) {
    try {
      port->in->cancelCallback();
      port->in->closePort();
    } catch (const std::exception& e) {
      core::Trace("MIDI: closing a port: %s\n", e.what());
    }
  }

  void Rescan(std::vector<std::string>* log) {
    std::vector<std::string> names;
    try {
      const unsigned count = lister_->getPortCount();
      for (unsigned i = 0; i < count; ++i) names.push_back(lister_->getPortName(i));
    } catch (const std::exception& e) {
      core::Trace("MIDI: listing ports: %s\n", e.what());
      return;
    }
    // Ports that went away.
    for (auto it = ports_.begin(); it != ports_.end();) {
      if (std::find(names.begin(), names.end(), it->first) != names.end()) {
        ++it;
        continue;
      }
      if (log) log->push_back("MIDI port " + it->first + " went away");
      ClosePort(it->second.get());
      it = ports_.erase(it);
    }
    // Ports that appeared (by position in this listing).
    for (unsigned i = 0; i < names.size(); ++i) {
      const std::string& name = names[i];
      if (ports_.count(name) || !NameMatches(name, filter_)) continue;
      // Our own ports are never read back.
      if (name.rfind(client_name_ + ":", 0) == 0) continue;
      auto port = std::make_unique<Port>();
      port->owner = this;
      port->number = next_number_++;
      try {
        port->in = std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, client_name_);
        port->in->setErrorCallback(TraceRtMidiError, nullptr);
        port->in->ignoreTypes(true, false, true);  // clock pulses wanted; no sysex or active sensing
        port->in->setCallback(&RtMidiInput::OnMessage, port.get());
        port->in->openPort(i, "in");
      } catch (const std::exception& e) {
        if (log) log->push_back("MIDI port " + name + " could not be opened: " + e.what());
        continue;
      }
      if (log) log->push_back("MIDI port " + name + " opened");
      ports_.emplace(name, std::move(port));
    }
  }

  std::string client_name_;
  std::string filter_;
  std::unique_ptr<RtMidiIn> lister_;
  std::map<std::string, std::unique_ptr<Port>> ports_;
  int next_number_ = 0;
  double next_scan_ = 0.0;
  std::mutex mutex_;
  std::vector<MidiMessage> queue_;
  size_t dropped_ = 0;
  std::atomic<void (*)()> wake_{nullptr};
};

}  // namespace

bool MidiAvailable() { return access(kSequencerDevice, R_OK | W_OK) == 0; }

std::unique_ptr<MidiInput> OpenMidiInput(const std::string& client_name, const std::string& port_filter,
                                         std::string* error) {
  if (!MidiAvailable()) {
    if (error)
      *error = core::FormatString("MIDI is off: this machine has no ALSA sequencer (%s); load snd-seq to use MIDI",
                                  kSequencerDevice);
    return nullptr;
  }
  try {
    auto lister = std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, client_name);
    lister->setErrorCallback(TraceRtMidiError, nullptr);
    return std::make_unique<RtMidiInput>(client_name, port_filter, std::move(lister));
  } catch (const std::exception& e) {
    if (error) *error = std::string("MIDI is off: ") + e.what();
    return nullptr;
  }
}

}  // namespace control
