#include <gtest/gtest.h>

#include <unistd.h>

#include "app/app.h"

namespace {

app::CommandLine Words(const char* line) { return app::ParseCommandWords(line); }

TEST(CommandWords, ModesAndLaterWordsWin) {
  EXPECT_EQ(Words("").Mode(), app::RunMode::kCombined);
  EXPECT_EQ(Words("server").Mode(), app::RunMode::kServerOnly);
  EXPECT_EQ(Words("client").Mode(), app::RunMode::kClientOnly);
  EXPECT_EQ(Words("client server").Mode(), app::RunMode::kServerOnly);
  EXPECT_EQ(Words("server client").Mode(), app::RunMode::kClientOnly);
  EXPECT_EQ(Words("Client").Mode(), app::RunMode::kCombined);
  EXPECT_EQ(Words("serverx").Mode(), app::RunMode::kCombined);
  EXPECT_EQ(Words("- \t--  -").Mode(), app::RunMode::kCombined);
  EXPECT_EQ(Words("-server").Mode(), app::RunMode::kServerOnly);
}

TEST(CommandWords, HelpAndUnknownWords) {
  EXPECT_TRUE(Words("-h").help);
  EXPECT_TRUE(Words("server -help").help);
  EXPECT_FALSE(Words("helpme").help);
  app::CommandLine typo = Words("serevr device 2 x");
  EXPECT_EQ(typo.Mode(), app::RunMode::kCombined);
  EXPECT_EQ(typo.unknown, (std::vector<std::string>{"serevr", "x"}));  // "2" belongs to device
}

TEST(CommandWords, DeviceNumber) {
  EXPECT_EQ(Words("-device 1").adapter, 1);
  EXPECT_EQ(Words("device 1").adapter, 1);
  EXPECT_EQ(Words("device\t1").adapter, 1);
  EXPECT_EQ(Words("device-2").adapter, 2);
  EXPECT_EQ(Words("device").adapter, 0);
  EXPECT_EQ(Words("device two").adapter, 0);
  EXPECT_EQ(Words("device 1 device 3").adapter, 3);
  // Digits up to the first other character, a '+' allowed; large numbers
  // stop at 1000000.
  EXPECT_EQ(Words("device +4").adapter, 4);
  EXPECT_EQ(Words("device 7x").adapter, 7);
  EXPECT_EQ(Words("device 2.9").adapter, 2);
  EXPECT_EQ(Words("device 2000000").adapter, 1000000);
  EXPECT_EQ(Words("device 99999999999999999999999").adapter, 1000000);
  // The word after device is taken as its number, even when it is a mode.
  EXPECT_EQ(Words("device server").Mode(), app::RunMode::kCombined);
  app::CommandLine both = Words("server device 1");
  EXPECT_EQ(both.Mode(), app::RunMode::kServerOnly);
  EXPECT_EQ(both.adapter, 1);
}

struct Parsed {
  int result;
  app::Options options;
  std::string words;
  std::string error;
};

Parsed Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "vj");
  Parsed p;
  p.result = app::ParseOptions(static_cast<int>(args.size()), args.data(), &p.options, &p.words, &p.error);
  return p;
}

TEST(Options, AreTakenOutBeforeTheWords) {
  Parsed p = Parse({"--root=/shows/my-show", "server", "--frames=12", "--headless", "-device", "1"});
  ASSERT_EQ(p.result, 0);
  EXPECT_EQ(p.options.root, "/shows/my-show");
  EXPECT_EQ(p.options.frames, 12);
  EXPECT_TRUE(p.options.headless);
  EXPECT_EQ(p.words, "server -device 1");
  app::CommandLine line = app::ParseCommandWords(p.words);
  EXPECT_EQ(line.Mode(), app::RunMode::kServerOnly);
  EXPECT_EQ(line.adapter, 1);
}

TEST(Options, SettingsDirTraceAndHelp) {
  Parsed p = Parse({"--settings-dir=/tmp/cfg", "--trace=/tmp/t.log", "--help"});
  ASSERT_EQ(p.result, 0);
  EXPECT_EQ(p.options.settings_dir, "/tmp/cfg");
  EXPECT_EQ(p.options.trace_file, "/tmp/t.log");
  EXPECT_TRUE(p.options.help);
  EXPECT_NE(app::UsageText().find("--headless"), std::string::npos);
}

TEST(Options, AudioInputIsMadeAbsoluteFromTheWorkingFolder) {
  Parsed p = Parse({"--audio-input=/music/set-1.flac"});
  ASSERT_EQ(p.result, 0);
  EXPECT_EQ(p.options.audio_input, "/music/set-1.flac");
  EXPECT_TRUE(p.options.live_audio);
  p = Parse({"--audio-input=music/a.wav"});
  ASSERT_EQ(p.result, 0);
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(p.options.audio_input, std::string(cwd) + "/music/a.wav");
  EXPECT_EQ(Parse({"--audio-input="}).result, -1);
  EXPECT_EQ(Parse({"--audio-input"}).result, -1);
}

TEST(Options, DumpFolder) {
  Parsed p = Parse({"server", "--dump=frames/out"});
  ASSERT_EQ(p.result, 0);
  EXPECT_EQ(p.options.dump_dir, "frames/out");
  EXPECT_EQ(p.words, "server");
  EXPECT_EQ(Parse({"--dump"}).result, -1);
  EXPECT_EQ(Parse({"--dump="}).result, -1);
  EXPECT_NE(app::UsageText().find("--dump=DIR"), std::string::npos);
}

TEST(Options, UnknownOrMalformedOptionsAreErrors) {
  EXPECT_EQ(Parse({"--bogus"}).result, -1);
  EXPECT_NE(Parse({"--bogus"}).error.find("--bogus"), std::string::npos);
  EXPECT_EQ(Parse({"--frames"}).result, -1);
  EXPECT_EQ(Parse({"--frames=ten"}).result, -1);
  EXPECT_EQ(Parse({"--frames=-3"}).result, -1);
  EXPECT_EQ(Parse({"--frames=+3"}).result, -1);
  EXPECT_EQ(Parse({"--frames= 3"}).result, -1);
  EXPECT_EQ(Parse({"--frames=1234567890123456789"}).result, -1);  // 19 digits
  EXPECT_EQ(Parse({"--fps=inf"}).result, -1);
  EXPECT_EQ(Parse({"--fps=2,5"}).result, -1);
  Parsed numbers = Parse({"--fps=2.5e1", "--frames=007"});
  EXPECT_EQ(numbers.result, 0);
  EXPECT_EQ(numbers.options.fps, 25.0);
  EXPECT_EQ(numbers.options.frames, 7);
  EXPECT_EQ(Parse({"--headless=yes"}).result, -1);
  EXPECT_EQ(Parse({"--root="}).result, -1);
  // A lone "--" or "-x" is a described word, not an option.
  EXPECT_EQ(Parse({"--", "-x"}).result, 0);
}

}  // namespace
