// Loading effects beside the show.
//
// Design. A load request makes a load job and returns; the frame loop goes
// on rendering every deck. Jobs run one at a time, in request order, as a
// state machine stepped on the frame thread once per tick within a time
// budget (kLoadBudgetSeconds of work per frame):
//
//   start        the script's disk path is resolved (with the effect's
//                folder as the file layer's base folder) and its reading is
//                queued on the loader thread
//   read script  waits for the text
//   open         parses the script and reads the effect's material scripts;
//                then every FXINSTANCE statement's class lists what it will
//                read (FxClass::Prepare: the IMAGE class its pictures, the
//                VIDEOSTREAM class its videos), and those files are
//                resolved here and queued for decoding or opening
//   instantiate  one instance per step; an IMAGE instance gets its picture
//                ids at once, the pictures still on their way
//   upload       the decoded pictures are converted and uploaded a strip of
//                tiles at a time (UploadImageSlices) until none is pending
//   done         the entry takes the script: "Loaded effect X" and the
//                status reply go out; a deck that was given the effect
//                meanwhile draws it from this frame on
//
// The loader thread (fx::Loader) only reads and decodes files named by
// absolute disk paths, into a cache bounded at 256 MiB; it never touches
// the base-folder stack, materials, the render layer or GL. Everything
// that does runs here, on the frame thread. A reload or unload of an effect
// whose load is running cancels it: its script (and with it every picture
// id and tile made so far) is destroyed and the loader drops its tasks.
//
// With ServerOptions::background_loads off (fixed-rate runs and tests) a
// job runs to completion inside the request, waiting for the loader, so
// every load completes before the next frame and offline renders stay
// exact.
#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "app/core/core.h"
#include "fx/effect.h"
#include "fx/image_effect.h"
#include "fx/loading.h"
#include "fx/video_effect.h"
#include "net/link.h"
#include "server/server_internal.h"

namespace server::internal {
namespace {

constexpr const char* kEffectsFolder = "effects";
constexpr const char* kScriptPath = "data/script.txt";

enum class Stage { kStart, kReadScript, kOpen, kInstantiate, kUpload };
enum class Outcome { kRunning, kDone, kFailed };

struct LoadJob {
  int id = 0;
  EffectEntry* entry = nullptr;
  bool reply = false;  // answer the Client when it ends
  Stage stage = Stage::kStart;
  std::unique_ptr<fx::FxScript> script;
  std::string script_key;
  size_t next_statement = 0;
  uint64_t failures_at_start = 0;
  std::vector<std::string> videos;  // loader keys of the videos being opened
};

struct Loads {
  fx::Loader loader;
  std::deque<std::unique_ptr<LoadJob>> jobs;  // the front one runs
  int next_id = 1;
  std::string last_step;  // what the last step worked on
} g_loads;

const char* StageName(Stage stage) {
  switch (stage) {
    case Stage::kStart: return "start";
    case Stage::kReadScript: return "script";
    case Stage::kOpen: return "open";
    case Stage::kInstantiate: return "instances";
    case Stage::kUpload: return "uploads";
  }
  return "?";
}

// The effect's folder as the base folder for a scope; every message raised
// meanwhile names the effect it is about.
class InEffectFolder {
 public:
  explicit InEffectFolder(const EffectEntry* entry) : context_(core::FormatString("Effect %s: ", entry->name)) {
    core::PushBaseFolder(std::string(kEffectsFolder) + "/" + entry->folder);
  }
  ~InEffectFolder() { core::PopBaseFolder(); }
  InEffectFolder(const InEffectFolder&) = delete;
  InEffectFolder& operator=(const InEffectFolder&) = delete;

 private:
  core::MessageContext context_;
};

// Destroys the job's script inside its folder and drops its loader work.
void DiscardJob(LoadJob* job) {
  if (job->script) {
    InEffectFolder folder(job->entry);
    job->script.reset();
  }
  g_loads.loader.CancelJob(job->id);
}

// Queues the files the classes of the script's instances list.
void PrepareInstances(LoadJob* job) {
  for (const fx::FxCommand& command : job->script->Commands()) {
    if (command.kind != fx::FxCommandKind::kInstance) continue;
    std::string_view keyword;
    const char* arguments = nullptr;
    if (!fx::FxScript::SplitInstanceText(command.text, &keyword, &arguments)) continue;
    const fx::FxClass* record = fx::FindClass(keyword);
    if (!record) continue;
    fx::Preparation preparation;
    record->Prepare(arguments, &preparation);
    for (const std::string& picture : preparation.pictures)
      fx::PrepareImageTexture(&g_loads.loader, job->id, picture.c_str());
    for (const std::string& video : preparation.videos) {
      std::string key = fx::PrepareVideo(&g_loads.loader, job->id, video.c_str());
      if (!key.empty()) job->videos.push_back(key);
    }
  }
}

// Steps `job` while `keep_going` says so. With `wait`, waits for the loader
// instead of returning kRunning.
Outcome RunJob(LoadJob* job, const std::function<bool()>& keep_going, bool wait) {
  for (;;) {
    // Uploads ask before every strip themselves.
    if (job->stage != Stage::kUpload && !keep_going()) return Outcome::kRunning;
    g_loads.last_step = core::FormatString("loading effect %s (%s)", job->entry->name, StageName(job->stage));
    switch (job->stage) {
      case Stage::kStart: {
        if (g_loads.loader.Start() != 0) {
          core::ShowError("Cannot start a thread to load effect %s", job->entry->name);
          return Outcome::kFailed;
        }
        job->failures_at_start = fx::ImageUploadFailures();
        job->script.reset(new (std::nothrow) fx::FxScript);
        if (!job->script) return Outcome::kFailed;
        std::string disk;
        {
          InEffectFolder folder(job->entry);
          if (!core::FileExists(kScriptPath) || !core::ResolvePath(kScriptPath, &disk)) {
            core::ShowError("File not found %s", kScriptPath);
            return Outcome::kFailed;
          }
        }
        std::error_code error;
        std::filesystem::path absolute = std::filesystem::absolute(disk, error);
        if (error) return Outcome::kFailed;
        job->script_key = core::FormatString("script %d", job->id);
        g_loads.loader.QueueText(job->id, job->script_key, absolute.string());
        job->stage = Stage::kReadScript;
        break;
      }
      case Stage::kReadScript: {
        fx::Loader::State state =
            wait ? g_loads.loader.Wait(job->script_key) : g_loads.loader.Query(job->script_key);
        if (state == fx::Loader::State::kPending) return Outcome::kRunning;
        std::string text;
        if (state != fx::Loader::State::kReady || !g_loads.loader.TakeText(job->script_key, &text)) {
          g_loads.loader.Forget(job->script_key);
          core::ShowError("Error reading script from %s", kScriptPath);
          return Outcome::kFailed;
        }
        job->script_key = text;  // kept for the next stage
        job->stage = Stage::kOpen;
        break;
      }
      case Stage::kOpen: {
        InEffectFolder folder(job->entry);
        std::string text = std::move(job->script_key);
        job->script_key.clear();
        if (job->script->Open(text.c_str(), true) != 0) return Outcome::kFailed;
        PrepareInstances(job);
        job->stage = Stage::kInstantiate;
        break;
      }
      case Stage::kInstantiate: {
        // Instances take their videos opened: wait for the loader first.
        bool opening = false;
        for (const std::string& key : job->videos) {
          if (g_loads.loader.Query(key) != fx::Loader::State::kPending) continue;
          if (!wait) opening = true;
          else g_loads.loader.Wait(key);
        }
        if (opening) return Outcome::kRunning;
        int made;
        {
          InEffectFolder folder(job->entry);
          made = job->script->InstantiateNext(&job->next_statement);
        }
        if (made < 0) return Outcome::kFailed;
        if (made == 0) job->stage = Stage::kUpload;
        break;
      }
      case Stage::kUpload: {
        int pending;
        {
          core::MessageContext context(core::FormatString("Effect %s: ", job->entry->name));
          pending = fx::UploadImageSlices(keep_going, wait);
        }
        if (fx::ImageUploadFailures() != job->failures_at_start) return Outcome::kFailed;
        if (pending > 0) {
          if (!wait) return Outcome::kRunning;
          break;
        }
        return Outcome::kDone;
      }
    }
  }
}

// The job ended: the entry takes the script (or goes without one), and the
// Client hears about it when it asked.
void FinishJob(LoadJob* job, Outcome outcome) {
  EffectEntry* entry = job->entry;
  entry->loading = false;
  if (outcome == Outcome::kDone) {
    entry->script = std::move(job->script);
    entry->loaded = true;
    g_loads.loader.CancelJob(job->id);  // whatever nobody took
    if (job->reply) {
      ServerLog("Loaded effect %s", entry->name);
      Send(net::EffectStatusMessage(entry->Record()));
    } else {
      core::Trace("SERVER: Loaded effect %s.\n", entry->name);
    }
    return;
  }
  DiscardJob(job);
  entry->script.reset();
  if (job->reply) ServerLog("Failed to load effect %s", entry->name);
}

bool Always() { return true; }

std::unique_ptr<LoadJob> NewJob(EffectEntry* entry, bool reply) {
  std::unique_ptr<LoadJob> job(new (std::nothrow) LoadJob);
  if (!job) return nullptr;
  job->id = g_loads.next_id++;
  job->entry = entry;
  job->reply = reply;
  // A fresh script on every attempt: the old one (if any) goes now, so a
  // failed load leaves no script behind.
  if (entry->script) {
    InEffectFolder folder(entry);
    entry->script.reset();
  }
  entry->loaded = false;
  entry->loading = true;
  return job;
}

}  // namespace

void StartEffectLoads() { fx::SetPictureLoader(&g_loads.loader); }

void StopEffectLoads() {
  for (std::unique_ptr<LoadJob>& job : g_loads.jobs) {
    DiscardJob(job.get());
    job->entry->loading = false;
  }
  g_loads.jobs.clear();
  g_loads.loader.Stop();
  if (fx::PictureLoader() == &g_loads.loader) fx::SetPictureLoader(nullptr);
}

int RequestEffectLoad(EffectEntry* entry) {
  CancelEffectLoad(entry);
  std::unique_ptr<LoadJob> job = NewJob(entry, true);
  if (!job) {
    ServerLog("Failed to load effect %s", entry->name);
    return -1;
  }
  if (!g_server.options.background_loads) {
    Outcome outcome = RunJob(job.get(), Always, true);
    FinishJob(job.get(), outcome);
    return outcome == Outcome::kDone ? 0 : -1;
  }
  core::Trace("SERVER: Loading effect %s in the background.\n", entry->name);
  g_loads.jobs.push_back(std::move(job));
  return 0;
}

bool CancelEffectLoad(EffectEntry* entry) {
  for (auto it = g_loads.jobs.begin(); it != g_loads.jobs.end(); ++it) {
    if ((*it)->entry != entry) continue;
    core::Trace("SERVER: Cancelled loading effect %s.\n", entry->name);
    DiscardJob(it->get());
    entry->loading = false;
    g_loads.jobs.erase(it);
    return true;
  }
  return false;
}

std::string StepEffectLoads(double budget_seconds) {
  g_loads.last_step.clear();
  using Steady = std::chrono::steady_clock;
  const Steady::time_point deadline =
      Steady::now() + std::chrono::duration_cast<Steady::duration>(std::chrono::duration<double>(budget_seconds));
  // At least one piece of work per frame, then more while the budget lasts.
  int granted = 0;
  auto keep_going = [deadline, &granted] {
    if (granted > 0 && Steady::now() >= deadline) return false;
    ++granted;
    return true;
  };
  std::string worked_on;
  while (!g_loads.jobs.empty()) {
    LoadJob* job = g_loads.jobs.front().get();
    Outcome outcome = RunJob(job, keep_going, false);
    worked_on = g_loads.last_step;
    if (outcome == Outcome::kRunning) break;
    std::unique_ptr<LoadJob> ended = std::move(g_loads.jobs.front());
    g_loads.jobs.pop_front();
    FinishJob(ended.get(), outcome);
    if (granted > 0 && Steady::now() >= deadline) break;
  }
  return worked_on;
}

int RunningEffectLoads() { return static_cast<int>(g_loads.jobs.size()); }

}  // namespace server::internal

namespace server {

int LoadEffect(EffectEntry* entry) {
  if (!entry) return -1;
  internal::CancelEffectLoad(entry);
  std::unique_ptr<internal::LoadJob> job = internal::NewJob(entry, false);
  if (!job) return -1;
  internal::Outcome outcome = internal::RunJob(job.get(), internal::Always, true);
  internal::FinishJob(job.get(), outcome);
  return outcome == internal::Outcome::kDone ? 0 : -1;
}

}  // namespace server
