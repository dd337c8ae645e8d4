#include "tests/net/fake_server.h"

#include <ctime>

namespace testing_support {
namespace {

const char* const kMixerNames[] = {
    "ALPHABLEND", "BEATBLEND",  "INVERSEBEATBLEND",    "WAVEBLEND",    "INVERSEWAVEBLEND",
    "ADDITIVE",   "BEATADDITIVE", "INVERSEBEATADDITIVE", "WAVEADDITIVE", "INVERSEWAVEADDITIVE"};

}  // namespace

FakeServer::FakeServer() {
  for (const char* name : {"TUNNEL", "PLASMA", "BROKEN"}) {
    net::EffectRecord effect;
    effect.id = static_cast<int32_t>(effects.size());
    net::SetRecordText(effect.name, name);
    effects.push_back(effect);
  }
  failing_loads.push_back("BROKEN");
  for (int deck = 0; deck < net::kDeckCount; ++deck) decks[deck] = net::DefaultDeckRecord(deck);
  for (const char* name : kMixerNames) {
    net::MixerRecord mixer;
    mixer.index = static_cast<int32_t>(mixers.size());
    net::SetRecordText(mixer.name, name);
    mixers.push_back(mixer);
  }
}

int FakeServer::Start(int port) { return listener_.Listen(port, "127.0.0.1"); }

void FakeServer::Post(std::function<void(FakeServer&)> action) {
  std::lock_guard<std::mutex> hold(posted_mutex_);
  posted_.push_back(std::move(action));
}

void FakeServer::Log(const std::string& text) { Send(net::LogEventMessage(text)); }

void FakeServer::Tick() {
  std::vector<std::function<void(FakeServer&)>> actions;
  {
    std::lock_guard<std::mutex> hold(posted_mutex_);
    actions.swap(posted_);
  }
  for (auto& action : actions) action(*this);

  if (listener_.PollIncoming() == 0) {
    client_.Close();
    if (listener_.Accept(&client_) == 0) {
      net::AttachLink(&link_, &client_);
      ++connections;
    }
  }
  if (!client_.IsOpen()) return;
  while (auto message = net::ReceiveNetMessage(&link_)) Handle(message.get());
}

void FakeServer::Handle(net::NetMessage* message) {
  received_types.push_back(message->Type());
  if (auto* master = net::MessageAs<net::MasterUpdateMessage>(message)) received_master.push_back(*master);
  if (auto* preview = net::MessageAs<net::PreviewRequestMessage>(message))
    received_preview_rates.push_back(preview->rate);
  if (!answer) return;
  if (message->Type() == net::MSG_TAP || message->Type() == net::MSG_BEAT_DISABLE) {
    if (!tempo_messages) return;
    if (message->Type() == net::MSG_TAP) ++taps;
    else beat_disabled = !beat_disabled;
    net::TempoStatusMessage status;
    status.period_ms = taps >= 2 ? tapped_period_ms : 0;
    status.beat_disabled = beat_disabled;
    Send(status);
    return;
  }
  switch (message->Type()) {
    case net::MSG_CLIENT_HANDSHAKE:
      Send(net::ServerHandshakeMessage(major, minor));
      break;
    case net::MSG_LIST_EFFECTS: {
      net::StateMessage state;
      state.effects = effects;
      state.decks.assign(decks, decks + net::kDeckCount);
      state.mixers = mixers;
      state.low_bin = low_bin;
      state.high_bin = high_bin;
      state.threshold = threshold;
      Send(state);
      break;
    }
    case net::MSG_LOAD_EFFECT: {
      auto* load = net::MessageAs<net::LoadEffectMessage>(message);
      if (load->effect_id < 0 || load->effect_id >= static_cast<int32_t>(effects.size())) break;
      net::EffectRecord& effect = effects[static_cast<size_t>(load->effect_id)];
      std::string name(net::RecordText(effect.name));
      if (load->load) {
        bool fails = false;
        for (const std::string& failing : failing_loads) fails = fails || failing == name;
        if (!effect.loaded && fails) {
          Log("Failed to load effect " + name);
          break;
        }
        effect.loaded = true;
        Log("Loaded effect " + name);
      } else {
        if (!effect.loaded) {
          Log("Failed to unload effect " + name);
          break;
        }
        effect.loaded = false;
        Log("Unloaded effect " + name);
      }
      Send(net::EffectStatusMessage(effect));
      break;
    }
    case net::MSG_SET_DECK_EFFECT: {
      auto* set = net::MessageAs<net::SetDeckEffectMessage>(message);
      if (set->deck < 0 || set->deck >= net::kDeckCount) break;
      if (set->effect_id < -1 || set->effect_id >= static_cast<int32_t>(effects.size())) break;
      net::DeckRecord& deck = decks[set->deck];
      deck.effect_id = set->effect_id;
      net::SetRecordText(deck.effect_name,
                         set->effect_id == -1
                             ? std::string_view()
                             : net::RecordText(effects[static_cast<size_t>(set->effect_id)].name));
      Send(net::DeckStatusMessage(deck));
      break;
    }
    case net::MSG_DECK_UPDATE: {
      const net::DeckRecord& update = net::MessageAs<net::DeckUpdateMessage>(message)->record;
      received_updates.push_back(update);
      if (update.deck == -1 && (update.change_mask & net::kMaskBeatSettings)) {
        high_bin = update.high_bin;
        low_bin = update.low_bin > high_bin ? high_bin : update.low_bin;
        threshold = update.threshold;
        net::DeckRecord reply = update;
        reply.low_bin = low_bin;
        reply.high_bin = high_bin;
        reply.threshold = threshold;
        Send(net::DeckStatusMessage(reply));
        break;
      }
      if (update.deck < 0 || update.deck >= net::kDeckCount) break;
      net::DeckRecord& deck = decks[update.deck];
      if (update.change_mask & net::kMaskFader) deck.fader = update.fader;
      if (update.change_mask & net::kMaskMixer) deck.mixer = update.mixer;
      if (update.change_mask & net::kMaskBeatMode) deck.beat_mode = update.beat_mode;
      if (update.change_mask & net::kMaskSpeed) deck.speed = update.speed;
      deck.change_mask = net::kMaskServerReply;
      Send(net::DeckStatusMessage(deck));
      break;
    }
    default:
      break;
  }
}

void FakeServerThread::Run() {
  thread_ = std::thread([this] {
    while (!stop_.load()) {
      server_->Tick();
      timespec pause{0, 500 * 1000};
      nanosleep(&pause, nullptr);
    }
  });
}

void FakeServerThread::Stop() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
}

}  // namespace testing_support
