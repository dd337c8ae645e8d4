// Preset banks and files: the exact text of a saved bank, save -> load of
// every field, defaults for missing values, malformed BINDs skipped one by
// one, atomic saving, recall keys and recall plans.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <limits>
#include <utility>

#include "app/core/core.h"
#include "net/wire.h"
#include "show/preset.h"
#include "tests/support/support.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

class PresetFile : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(core::StartFileLayer(dir.path()), 0); }
  void TearDown() override { core::StopFileLayer(); }
  TempDir dir;
};

// The text one BIND of a fresh bank is written as.
std::string DefaultBindText(char letter, int page) {
  std::string text = "\t<BIND>\n\t\t<KEY>\n\t\t\t\"";
  text += letter;
  text += "\"\n\t\t</KEY>\n";
  for (int deck = 0; deck < 6; ++deck) {
    text += "\t\t<DECK>\n";
    text += "\t\t\t<DECKNUM>\n\t\t\t\t" + std::to_string(deck) + "\n\t\t\t</DECKNUM>\n";
    text += "\t\t\t<FADER>\n\t\t\t\t1.000000\n\t\t\t</FADER>\n";
    text += "\t\t\t<MIXER>\n\t\t\t\t-1\n\t\t\t</MIXER>\n";
    text += "\t\t\t<EFFECT>\n\t\t\t\t\"\"\n\t\t\t</EFFECT>\n";
    text += "\t\t\t<AUTOBEAT>\n\t\t\t\t0\n\t\t\t</AUTOBEAT>\n";
    text += "\t\t\t<SPEED>\n\t\t\t\t0.750000\n\t\t\t</SPEED>\n";
    text += "\t\t</DECK>\n";
  }
  text += "\t\t<PAGE>\n\t\t\t" + std::to_string(page) + "\n\t\t</PAGE>\n\t</BIND>\n";
  return text;
}

std::string DeckText(int number, const char* fader, int mixer, const char* effect, const char* extra = "") {
  return std::string("<DECK> <DECKNUM> ") + std::to_string(number) + " </DECKNUM> <FADER> " + fader +
         " </FADER> <MIXER> " + std::to_string(mixer) + " </MIXER> <EFFECT> \"" + effect + "\" </EFFECT> " + extra +
         " </DECK>\n";
}

// A BIND with six decks built by `deck` (place -> text).
std::string BindText(const std::string& key, int page, const std::function<std::string(int)>& deck) {
  std::string text = "<BIND> <KEY> " + key + " </KEY>\n";
  for (int j = 0; j < 6; ++j) text += deck(j);
  return text + "<PAGE> " + std::to_string(page) + " </PAGE> </BIND>\n";
}

void ExpectDefault(const net::DeckRecord& record, int deck) {
  EXPECT_EQ(record.deck, deck);
  EXPECT_EQ(record.fader, 1.0f);
  EXPECT_EQ(record.mixer, -1);
  EXPECT_EQ(record.effect_id, -1);
  EXPECT_EQ(net::RecordText(record.effect_name), "");
  EXPECT_EQ(record.beat_mode, 0);
  EXPECT_EQ(record.speed, 0.75f);
  EXPECT_EQ(record.change_mask, 0u);
}

TEST_F(PresetFile, AFreshBankIsWrittenByteForByte) {
  auto bank = show::NewPresetBank();
  ASSERT_EQ(show::SavePresetFile((dir / "fresh.HVR").c_str(), *bank), 0);
  std::string want = "<BINDS>\n";
  for (int page = 0; page < 10; ++page)
    for (char letter = 'A'; letter <= 'Z'; ++letter) want += DefaultBindText(letter, page);
  want += "</BINDS>\n";
  std::string got = ReadFile(dir / "fresh.HVR");
  EXPECT_EQ(got.size(), want.size());
  EXPECT_TRUE(got == want) << got.substr(0, 600);
  // 260 BIND tags; the writer's depth is back at 0 for the next save.
  size_t binds = 0;
  for (size_t at = got.find("<BIND>"); at != std::string::npos; at = got.find("<BIND>", at + 1)) ++binds;
  EXPECT_EQ(binds, 260u);
  ASSERT_EQ(show::SavePresetFile((dir / "again.HVR").c_str(), *bank), 0);
  EXPECT_EQ(ReadFile(dir / "again.HVR"), want);
  // No temporary file stays behind.
  EXPECT_EQ(testing_support::ListDir(dir.path()), (std::vector<std::string>{"again.HVR", "fresh.HVR"}));
}

TEST_F(PresetFile, SaveThenLoadKeepsEveryField) {
  auto bank = show::NewPresetBank();
  // Distinct values everywhere, so a field read into the wrong place shows.
  for (int page = 0; page < 10; ++page)
    for (int letter = 0; letter < 26; ++letter)
      for (int deck = 0; deck < 6; ++deck) {
        net::DeckRecord& r = bank->bindings[page][letter].decks[deck];
        int n = (page * 26 + letter) * 6 + deck;
        r.deck = (deck + page) % 6;
        r.fader = static_cast<float>(n % 101) / 100.0f;
        r.mixer = n % 11 - 1;
        if (n % 3) net::SetRecordText(r.effect_name, "FX_" + std::to_string(n));
        r.beat_mode = n % 3;
        r.speed = static_cast<float>(n % 97) / 96.0f;
        r.effect_id = 7;        // not stored: comes back as -1
        r.change_mask = 27;     // not stored
        r.threshold = 0.3f;     // not stored
      }
  net::SetRecordText(bank->bindings[9][25].decks[5].effect_name, std::string(63, 'X'));
  ASSERT_EQ(show::SavePresetFile((dir / "full.hvr").c_str(), *bank), 0);

  auto loaded = show::NewPresetBank();
  loaded->bindings[0][0].decks[0].fader = 0.123f;  // replaced by the load
  show::PresetReport report;
  ASSERT_EQ(show::LoadPresetFile((dir / "FULL.HVR").c_str(), loaded.get(), &report), 0);  // any case
  EXPECT_EQ(report.binds_read, 260);
  EXPECT_EQ(report.binds_skipped, 0);
  for (int page = 0; page < 10; ++page)
    for (int letter = 0; letter < 26; ++letter)
      for (int deck = 0; deck < 6; ++deck) {
        const net::DeckRecord& a = bank->bindings[page][letter].decks[deck];
        const net::DeckRecord& b = loaded->bindings[page][letter].decks[deck];
        SCOPED_TRACE(::testing::Message() << page << " " << letter << " " << deck);
        EXPECT_EQ(b.deck, a.deck);
        // Six decimals in the file.
        EXPECT_NEAR(b.fader, a.fader, 5e-7);
        EXPECT_EQ(b.mixer, a.mixer);
        EXPECT_EQ(net::RecordText(b.effect_name), net::RecordText(a.effect_name));
        EXPECT_EQ(b.beat_mode, a.beat_mode);
        EXPECT_NEAR(b.speed, a.speed, 5e-7);
        EXPECT_EQ(b.effect_id, -1);
        EXPECT_EQ(b.change_mask, 0u);
        EXPECT_EQ(b.threshold, 0.0f);
      }
}

TEST_F(PresetFile, MissingSpeedIsOnePointZeroAndMissingAutobeatIsFree) {
  std::string text = "<BINDS>\n" + BindText("\"Q\"", 2, [](int j) {
                       return DeckText(j, "0.500000", 3, j == 1 ? "TUNNEL" : "");
                     }) +
                     BindText("\"R\"", 2, [](int j) {
                       return DeckText(j, "0.250000", 1, "", "<AUTOBEAT> 2 </AUTOBEAT> <SPEED> 0.600000 </SPEED>");
                     }) +
                     "</BINDS>\n";
  auto bank = show::NewPresetBank();
  ASSERT_EQ(show::ParsePresetText(text.c_str(), bank.get()), 0);
  for (int j = 0; j < 6; ++j) {
    const net::DeckRecord& q = bank->bindings[2][16].decks[j];
    EXPECT_EQ(q.speed, 1.0f) << j;  // twice normal speed
    EXPECT_EQ(q.beat_mode, net::kBeatFree) << j;
    EXPECT_EQ(q.fader, 0.5f);
    EXPECT_EQ(q.mixer, 3);
    const net::DeckRecord& r = bank->bindings[2][17].decks[j];
    EXPECT_FLOAT_EQ(r.speed, 0.6f);
    EXPECT_EQ(r.beat_mode, net::kBeatEndOnBeat);
  }
  EXPECT_EQ(net::RecordText(bank->bindings[2][16].decks[1].effect_name), "TUNNEL");
  // Everything else stays reset.
  ExpectDefault(bank->bindings[0][16].decks[0], 0);
  ExpectDefault(bank->bindings[2][18].decks[5], 5);
}

TEST_F(PresetFile, MalformedBindsAreSkippedOneByOne) {
  auto good = [](int j) { return DeckText(j, "0.500000", 2, "PLASMA"); };
  struct Case {
    const char* why;
    std::string bind;
  };
  std::vector<Case> bad = {
      {"lower-case key", BindText("\"q\"", 0, good)},
      {"key not a letter", BindText("\"1\"", 0, good)},
      {"empty key", BindText("\"\"", 0, good)},
      {"key without a string", BindText("7", 0, good)},
      {"page above 9", BindText("\"B\"", 10, good)},
      {"negative page", BindText("\"B\"", -1, good)},
      {"page as a real", "<BIND> <KEY> \"B\" </KEY>" + good(0) + good(1) + good(2) + good(3) + good(4) + good(5) +
                             "<PAGE> 1.0 </PAGE> </BIND>\n"},
      {"too few children", "<BIND> <KEY> \"C\" </KEY>" + good(0) + good(1) + "</BIND>\n"},
      {"deck without FADER", BindText("\"D\"", 0, [&](int j) {
         return j == 3 ? std::string("<DECK> <DECKNUM> 3 </DECKNUM> <MIXER> 1 </MIXER> <EFFECT> \"\" </EFFECT> </DECK>")
                       : good(j);
       })},
      {"deck without DECKNUM", BindText("\"D\"", 0, [&](int j) {
         return j == 0 ? std::string("<DECK> <FADER> 1.0 </FADER> <MIXER> 1 </MIXER> <EFFECT> \"\" </EFFECT> </DECK>")
                       : good(j);
       })},
      {"deck without EFFECT", BindText("\"D\"", 0, [&](int j) {
         return j == 5 ? std::string("<DECK> <DECKNUM> 5 </DECKNUM> <FADER> 1.0 </FADER> <MIXER> 1 </MIXER> </DECK>")
                       : good(j);
       })},
      {"fader without a point", BindText("\"E\"", 0, [&](int j) { return DeckText(j, "1", 2, "X"); })},
      {"mixer as a real", BindText("\"E\"", 0, [&](int j) {
         return j ? good(j)
                  : std::string("<DECK> <DECKNUM> 0 </DECKNUM> <FADER> 1.0 </FADER> <MIXER> 1.0 </MIXER> "
                                "<EFFECT> \"\" </EFFECT> </DECK>");
       })},
      {"effect as a number", BindText("\"E\"", 0, [&](int j) {
         return j ? good(j)
                  : std::string("<DECK> <DECKNUM> 0 </DECKNUM> <FADER> 1.0 </FADER> <MIXER> 1 </MIXER> "
                                "<EFFECT> 5 </EFFECT> </DECK>");
       })},
      {"speed without a point", BindText("\"F\"", 0, [&](int j) { return DeckText(j, "1.0", 2, "", "<SPEED> 1 </SPEED>"); })},
      {"autobeat as a real", BindText("\"F\"", 0, [&](int j) { return DeckText(j, "1.0", 2, "", "<AUTOBEAT> 1.0 </AUTOBEAT>"); })},
      {"empty autobeat", BindText("\"F\"", 0, [&](int j) { return DeckText(j, "1.0", 2, "", "<AUTOBEAT> </AUTOBEAT>"); })},
      {"effect of 64 characters", BindText("\"G\"", 0, [&](int j) { return DeckText(j, "1.0", 2, std::string(64, 'N').c_str()); })},
  };
  std::string text = "<BINDS>\n";
  for (const Case& c : bad) text += c.bind;
  // One good BIND between them, and a place holding no DECK (left reset).
  text += BindText("\"Z\"", 4, [&](int j) { return j == 2 ? std::string("<NOTADECK> </NOTADECK>") : good(j); });
  text += "</BINDS>\n";

  auto bank = show::NewPresetBank();
  show::PresetReport report;
  ASSERT_EQ(show::ParsePresetText(text.c_str(), bank.get(), &report), 0);
  EXPECT_EQ(report.binds_read, 1);
  EXPECT_EQ(report.binds_skipped, static_cast<int>(bad.size()));
  for (int page = 0; page < 10; ++page)
    for (int letter = 0; letter < 26; ++letter) {
      if (page == 4 && letter == 25) continue;
      for (int j = 0; j < 6; ++j) {
        SCOPED_TRACE(::testing::Message() << page << " " << letter << " " << j);
        ExpectDefault(bank->bindings[page][letter].decks[j], j);
      }
    }
  const show::Binding& z = bank->bindings[4][25];
  for (int j = 0; j < 6; ++j) {
    if (j == 2) {
      ExpectDefault(z.decks[j], 2);
      continue;
    }
    EXPECT_EQ(net::RecordText(z.decks[j].effect_name), "PLASMA");
    EXPECT_EQ(z.decks[j].mixer, 2);
  }
  // An effect name of exactly 63 characters is fine.
  std::string longest = "<BINDS>" + BindText("\"H\"", 0, [&](int j) { return DeckText(j, "1.0", 2, std::string(63, 'N').c_str()); }) +
                        "</BINDS>";
  ASSERT_EQ(show::ParsePresetText(longest.c_str(), bank.get(), &report), 0);
  EXPECT_EQ(report.binds_read, 1);
  EXPECT_EQ(net::RecordText(bank->bindings[0][7].decks[0].effect_name).size(), 63u);
}

TEST_F(PresetFile, UnreadableFilesChangeNothingAndEmptyOnesReset) {
  auto bank = show::NewPresetBank();
  bank->bindings[3][3].decks[3].fader = 0.25f;
  WriteFile(dir / "broken.HVR", "<BINDS> <BIND> <KEY> \"A\" </KEY>");  // unclosed
  EXPECT_EQ(show::LoadPresetFile((dir / "broken.HVR").c_str(), bank.get()), -1);
  EXPECT_EQ(show::LoadPresetFile((dir / "missing.HVR").c_str(), bank.get()), -1);
  EXPECT_EQ(bank->bindings[3][3].decks[3].fader, 0.25f);
  // Parsed but without BINDS: the bank is reset.
  WriteFile(dir / "other.HVR", "<SHADER> <NAME> \"x\" </NAME> </SHADER>");
  ASSERT_EQ(show::LoadPresetFile((dir / "other.HVR").c_str(), bank.get()), 0);
  ExpectDefault(bank->bindings[3][3].decks[3], 3);
}

TEST_F(PresetFile, AFailedSaveLeavesTheOldFileIntact) {
  auto old_bank = show::NewPresetBank();
  net::SetRecordText(old_bank->bindings[0][0].decks[0].effect_name, "OLD");
  std::string path = dir / "show.HVR";
  ASSERT_EQ(show::SavePresetFile(path.c_str(), *old_bank), 0);
  std::string before = ReadFile(path);

  auto new_bank = show::NewPresetBank();
  net::SetRecordText(new_bank->bindings[0][0].decks[0].effect_name, "NEW");
  // The save dies part way: files may not grow past 16 KiB (a bank is far
  // larger), as when the disk fills up.
  struct rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 16 * 1024;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  int result = show::SavePresetFile(path.c_str(), *new_bank);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old_handler);

  EXPECT_EQ(result, -1);
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_EQ(testing_support::ListDir(dir.path()), (std::vector<std::string>{"show.HVR"}));
  // The writer is usable again afterwards.
  ASSERT_EQ(show::SavePresetFile(path.c_str(), *new_bank), 0);
  auto check = show::NewPresetBank();
  ASSERT_EQ(show::LoadPresetFile(path.c_str(), check.get()), 0);
  EXPECT_EQ(net::RecordText(check->bindings[0][0].decks[0].effect_name), "NEW");
  // A folder that does not exist: nothing written, -1.
  EXPECT_EQ(show::SavePresetFile((dir / "nowhere/show.HVR").c_str(), *new_bank), -1);
}

TEST_F(PresetFile, FadersOutsideZeroToOneAreClampedOnLoad) {
  const std::pair<const char*, float> cases[] = {
      {"1000000000000000000000000000000.000000", 1.0f},  // 1e30
      {"1.500000", 1.0f},
      {"-0.500000", 0.0f},
      {"0.250000", 0.25f},
  };
  for (auto [written, loaded] : cases) {
    const std::string text =
        "<BINDS>\n" + BindText("\"F\"", 0, [&](int j) { return DeckText(j, written, -1, "X"); }) + "</BINDS>\n";
    auto bank = show::NewPresetBank();
    ASSERT_EQ(show::ParsePresetText(text.c_str(), bank.get()), 0) << written;
    for (int j = 0; j < 6; ++j) EXPECT_EQ(bank->bindings[0][5].decks[j].fader, loaded) << written;
  }
}

TEST_F(PresetFile, UnwritableValuesAreSavedSoTheBindStillLoads) {
  auto bank = show::NewPresetBank();
  net::DeckRecord& r = bank->bindings[1][1].decks[1];
  r.fader = std::numeric_limits<float>::quiet_NaN();
  r.speed = std::numeric_limits<float>::infinity();
  net::SetRecordText(r.effect_name, "BAD\"NAME\n");
  ASSERT_EQ(show::SavePresetFile((dir / "odd.HVR").c_str(), *bank), 0);
  auto loaded = show::NewPresetBank();
  show::PresetReport report;
  ASSERT_EQ(show::LoadPresetFile((dir / "odd.HVR").c_str(), loaded.get(), &report), 0);
  EXPECT_EQ(report.binds_skipped, 0);
  const net::DeckRecord& b = loaded->bindings[1][1].decks[1];
  EXPECT_EQ(b.fader, 1.0f);
  EXPECT_EQ(b.speed, 0.75f);
  EXPECT_EQ(net::RecordText(b.effect_name), "BADNAME");
}

TEST(PresetKeys, PagesAndBindingKeys) {
  EXPECT_EQ(show::PageOfKey('1'), 0);
  EXPECT_EQ(show::PageOfKey('9'), 8);
  EXPECT_EQ(show::PageOfKey('0'), 9);
  EXPECT_EQ(show::PageOfKey('a'), -1);
  int page = -5, letter = -5;
  ASSERT_EQ(show::ParseBindingKey("Q", &page, &letter), 0);
  EXPECT_EQ(page, 0);
  EXPECT_EQ(letter, 16);
  ASSERT_EQ(show::ParseBindingKey("3Q", &page, &letter), 0);
  EXPECT_EQ(page, 2);
  EXPECT_EQ(letter, 16);
  ASSERT_EQ(show::ParseBindingKey("0a", &page, &letter), 0);
  EXPECT_EQ(page, 9);
  EXPECT_EQ(letter, 0);
  for (const char* bad : {"", "QQ", "33", "3", "Q3", "3QQ", "é", "-Q", " Q"})
    EXPECT_EQ(show::ParseBindingKey(bad, &page, &letter), -1) << bad;
}

net::EffectRecord Effect(int32_t id, const char* name, bool loaded) {
  net::EffectRecord effect;
  effect.id = id;
  net::SetRecordText(effect.name, name);
  effect.loaded = loaded;
  return effect;
}

TEST(PresetRecall, PlansSendsPerDeckInOrder) {
  show::Binding binding;
  for (int j = 0; j < 6; ++j) binding.decks[j] = net::DefaultDeckRecord(j);
  net::SetRecordText(binding.decks[0].effect_name, "TUNNEL");
  binding.decks[0].fader = 0.4f;
  binding.decks[0].mixer = 5;
  binding.decks[0].speed = 0.9f;
  binding.decks[0].beat_mode = 1;
  net::SetRecordText(binding.decks[2].effect_name, "PLASMA");  // not loaded
  net::SetRecordText(binding.decks[3].effect_name, "tunnel");  // case differs
  net::SetRecordText(binding.decks[4].effect_name, "MISSING");  // not in the catalogue
  binding.decks[5].deck = 1;  // settings go to the deck the record names
  std::vector<net::EffectRecord> effects = {Effect(0, "PLASMA", false), Effect(1, "TUNNEL", true)};

  std::vector<show::RecallStep> steps = show::PlanRecall(binding, effects, true);
  // Deck 0 gets TUNNEL; decks 1 and 5 have no name and are cleared; 2, 3, 4 stay.
  ASSERT_EQ(steps.size(), 3u);
  EXPECT_EQ(steps[0].effect_id, 1);
  EXPECT_EQ(steps[0].deck, 0);
  EXPECT_EQ(steps[0].update.deck, 0);
  EXPECT_EQ(steps[0].update.change_mask, 27u);
  EXPECT_FLOAT_EQ(steps[0].update.fader, 0.4f);
  EXPECT_EQ(steps[0].update.mixer, 5);
  EXPECT_FLOAT_EQ(steps[0].update.speed, 0.9f);
  EXPECT_EQ(steps[0].update.beat_mode, 1);
  EXPECT_EQ(steps[1].effect_id, -1);
  EXPECT_EQ(steps[1].deck, 1);
  EXPECT_EQ(steps[2].effect_id, -1);
  EXPECT_EQ(steps[2].deck, 5);
  EXPECT_EQ(steps[2].update.deck, 1);
  EXPECT_EQ(steps[2].update.change_mask, 27u);

  // Without unloading empty decks only the named, loaded effect moves.
  steps = show::PlanRecall(binding, effects, false);
  ASSERT_EQ(steps.size(), 1u);
  EXPECT_EQ(steps[0].deck, 0);
  // Once PLASMA is loaded, deck 2 gets it.
  effects[0].loaded = true;
  steps = show::PlanRecall(binding, effects, false);
  ASSERT_EQ(steps.size(), 2u);
  EXPECT_EQ(steps[1].effect_id, 0);
  EXPECT_EQ(steps[1].deck, 2);
}

}  // namespace
