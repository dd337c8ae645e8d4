// The effect script: reading, instantiating, the replay at an effect time
// with its sync points and trace lines, the layer passes, the material
// library's use and the messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <iterator>
#include <string>
#include <utility>

#include "tests/fx/effect_fixture.h"

namespace {

using fx::FxCommandKind;
using fx_test::EffectTest;
using fx_test::Events;
using Strings = std::vector<std::string>;

// ---------------------------------------------------------------------------
// Reading
// ---------------------------------------------------------------------------

TEST_F(EffectTest, AScriptOfCommentsOnlyIsEmptyAndDrawsNothing) {
  fx::FxScript script;
  const char* text =
      "// a line comment FXSTART A\n"
      "[ a bracket comment [ nested FXSTART B ] still comment ]\n"
      "   // another\r\n"
      "[unclosed [ ] comment up to the end FXINSTANCE C PROBE";
  ASSERT_EQ(script.Open(text, true), 0);
  EXPECT_TRUE(script.Loaded());
  EXPECT_TRUE(script.Commands().empty());
  EXPECT_EQ(script.Length(), 0.0f);
  EXPECT_EQ(script.InstantiateAll(), 0);
  script.Rewind();
  fx::SetEffectTime(3.0f);
  EXPECT_EQ(script.Step(), 0);
  EXPECT_EQ(script.RenderDeck(), 0);
  EXPECT_TRUE(script.Started().empty());
  EXPECT_TRUE(Events().empty());
  EXPECT_TRUE(messages.empty());
}

TEST_F(EffectTest, WordsAreUpperCasedSoLowerCaseKeywordsMatch) {
  fx::FxScript script;
  const char* text =
      "fxinstance spot Probe some.TGA x\n"
      "FxStart spot\n"
      "fxcommand spot Color 1 0.5 0\n"
      "fxlayer spot 3\n"
      "synctime 2.5\n"
      "fxstop spot\n";
  ASSERT_EQ(script.Open(text, true), 0);
  const std::vector<fx::FxCommand>& c = script.Commands();
  ASSERT_EQ(c.size(), 6u);
  EXPECT_EQ(c[0].kind, FxCommandKind::kInstance);
  EXPECT_EQ(c[0].name, "SPOT");
  EXPECT_EQ(c[0].text, "PROBE SOME.TGA X");
  EXPECT_EQ(c[1].kind, FxCommandKind::kStart);
  EXPECT_EQ(c[1].name, "SPOT");
  EXPECT_EQ(c[2].kind, FxCommandKind::kCommand);
  EXPECT_EQ(c[2].text, "COLOR 1 0.5 0");
  EXPECT_EQ(c[3].kind, FxCommandKind::kLayer);
  EXPECT_EQ(c[3].text, "3");
  EXPECT_EQ(c[3].layer, 3);
  EXPECT_EQ(c[4].kind, FxCommandKind::kSyncTime);
  EXPECT_EQ(c[4].time, 2.5f);
  EXPECT_EQ(c[5].kind, FxCommandKind::kStop);
  EXPECT_EQ(script.Length(), 2.5f);
}

TEST_F(EffectTest, RestOfLineKeepsItsBlanksAndCommentMarks) {
  fx::FxScript script;
  const char* text =
      "\t FXCOMMAND\tA   say // not a comment [nor this]  \r\n"
      "FXCOMMAND A\r\n"      // nothing behind the name: empty command
      "FXCOMMAND\n  B\n"     // the name may sit on the next line ...
      "next words\n"         // ... the command never does: this line is its own
      "";
  // "NEXT" is no keyword, so this one must fail; check the first three.
  EXPECT_EQ(script.Open(text, true), -1);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], "script line 5: unexpected command \"NEXT\"");
  EXPECT_EQ(messages[1], "Error parsing script. Quitting\n");
  EXPECT_FALSE(script.Loaded());
  EXPECT_TRUE(script.Commands().empty());

  ASSERT_EQ(script.Open("\t FXCOMMAND\tA   say // not a comment [nor this]  \r\nFXCOMMAND A\r\nFXCOMMAND\n  B\n", true),
            0);
  const std::vector<fx::FxCommand>& c = script.Commands();
  ASSERT_EQ(c.size(), 3u);
  EXPECT_EQ(c[0].text, "SAY // NOT A COMMENT [NOR THIS]  ");
  EXPECT_EQ(c[1].name, "A");
  EXPECT_EQ(c[1].text, "");
  EXPECT_EQ(c[2].name, "B");
  EXPECT_EQ(c[2].text, "");
}

TEST_F(EffectTest, KeywordsMatchOnlyAsWholeWords) {
  for (const char* text : {"FXSTARTA A\n", "FX START A\n", "SYNCTIME1 2\n", "FXINSTANCE// c\n"}) {
    messages.clear();
    core::ResetRuntimeMessages();
    fx::FxScript script;
    EXPECT_EQ(script.Open(text, true), -1) << text;
    ASSERT_EQ(messages.size(), 2u) << text;
    EXPECT_EQ(messages[0].find("script line 1: unexpected command \""), 0u) << messages[0];
  }
  // A word may carry comment marks inside it; they only count where a word
  // starts.
  fx::FxScript script;
  ASSERT_EQ(script.Open("FXSTART A//B\nFXSTART C[D]\n", true), 0);
  ASSERT_EQ(script.Commands().size(), 2u);
  EXPECT_EQ(script.Commands()[0].name, "A//B");
  EXPECT_EQ(script.Commands()[1].name, "C[D]");
}

TEST_F(EffectTest, AStatementMissingItsNameAtTheEndIsSkipped) {
  for (const char* last : {"FXSTART", "FXSTOP   ", "FXCOMMAND\n", "FXLAYER // no name", "FXINSTANCE", "SYNCTIME"}) {
    fx::FxScript script;
    std::string text = std::string("FXINSTANCE A PROBE\nSYNCTIME 4\n") + last;
    ASSERT_EQ(script.Open(text.c_str(), true), 0) << last;
    EXPECT_EQ(script.Commands().size(), 2u) << last;
    EXPECT_NE(TakeTrace().find("at the end of the script, skipped"), std::string::npos) << last;
  }
  EXPECT_TRUE(messages.empty());
}

TEST_F(EffectTest, SyncTimesReadDecimalNumbersAndOtherTextAsZero) {
  fx::FxScript script;
  ASSERT_EQ(script.Open("SYNCTIME 1.25\nSYNCTIME abc\nSYNCTIME -2\nSYNCTIME 3e1\nSYNCTIME 1e99\nSYNCTIME nan\n", true), 0);
  const std::vector<fx::FxCommand>& c = script.Commands();
  ASSERT_EQ(c.size(), 6u);
  EXPECT_EQ(c[0].time, 1.25f);
  EXPECT_EQ(c[1].time, 0.0f);
  EXPECT_EQ(c[2].time, -2.0f);
  EXPECT_EQ(c[3].time, 30.0f);
  EXPECT_EQ(c[4].time, 0.0f);  // not a finite float
  EXPECT_EQ(c[5].time, 0.0f);
  EXPECT_EQ(script.Length(), 30.0f);

  // Only negative sync points: no length.
  ASSERT_EQ(script.Open("SYNCTIME -5\n", true), 0);
  EXPECT_EQ(script.Length(), 0.0f);
}

TEST_F(EffectTest, SyncTimesKeepTheirLenientSpellings) {
  // A leading '+', hex reals and text after the number have always been
  // read; values beyond the float range and infinities read as 0 (decided
  // before any conversion to float: 1e300 as a float is undefined), values
  // that round to the largest float read as it.
  const std::pair<const char*, float> cases[] = {
      {"+2.5", 2.5f},   {"0x10", 16.0f},  {"7.5x", 7.5f},         {"1e39", 0.0f},
      {"-inf", 0.0f},   {"1e-50", 0.0f},  {"1e300", 0.0f},        {"-1e300", 0.0f},
      {"nan", 0.0f},    {"3.4028235e38", FLT_MAX}, {"-3.4028235677973e38", -FLT_MAX},
  };
  std::string text;
  for (const auto& c : cases) text += std::string("SYNCTIME ") + c.first + "\n";
  fx::FxScript script;
  ASSERT_EQ(script.Open(text.c_str(), true), 0);
  const std::vector<fx::FxCommand>& c = script.Commands();
  ASSERT_EQ(c.size(), std::size(cases));
  for (size_t i = 0; i < c.size(); ++i) EXPECT_EQ(c[i].time, cases[i].second) << cases[i].first;
}

TEST_F(EffectTest, OpeningTracesTheClassRegistry) {
  fx::FxScript script;
  ASSERT_EQ(script.Open("", true), 0);
  EXPECT_EQ(TakeTrace(),
            "Enumerating available effects...\nNOMEMORY\nPROBE\nFILTER\n3DSCENE\nSOUNDSYNCER\nIMAGE\nVIDEOSTREAM\n"
            "Enumerating ended...\n");
}

// ---------------------------------------------------------------------------
// Instantiating
// ---------------------------------------------------------------------------

TEST_F(EffectTest, InstantiateAllCreatesEveryInstanceNewestFirst) {
  fx::FxScript script;
  ASSERT_EQ(script.Open("FXINSTANCE A PROBE\nFXSTART A\nFXINSTANCE B PROBE  two  words\nFXINSTANCE C probe\n", true), 0);
  Strings progress;
  ASSERT_EQ(script.InstantiateAll([&](int index, int total) {
    progress.push_back(std::to_string(index) + "/" + std::to_string(total));
  }),
            0);
  EXPECT_EQ(progress, (Strings{"1/3", "2/3", "3/3"}));
  EXPECT_EQ(Events(), (Strings{"A.Load()", "B.Load( TWO  WORDS)", "C.Load()"}));
  ASSERT_EQ(script.Instances().size(), 3u);
  EXPECT_STREQ(script.Instances()[0]->InstanceName(), "C");
  EXPECT_STREQ(script.Instances()[1]->InstanceName(), "B");
  EXPECT_STREQ(script.Instances()[2]->InstanceName(), "A");
  for (const auto& instance : script.Instances()) EXPECT_EQ(instance->Owner(), &script);
  EXPECT_EQ(script.FindInstance("B"), script.Instances()[1].get());
  EXPECT_EQ(script.FindInstance("b"), nullptr);
  EXPECT_EQ(script.FindInstance("D"), nullptr);
}

TEST_F(EffectTest, InstantiateAllStopsAtTheFirstFailureWithItsMessage) {
  struct Case {
    const char* line;
    const char* message;  // nullptr: no message
  };
  const Case cases[] = {
      {"FXINSTANCE BAD NOSUCHCLASS x\n", "Failed to instantiate effect BAD"},
      {"FXINSTANCE BAD NOMEMORY\n", "Failed to instantiate effect BAD"},
      {"FXINSTANCE BAD PROBE FAILLOAD\n", "Failed to instantiate effect BAD"},
      {"FXINSTANCE BAD\n", nullptr},
      {"FXINSTANCE BAD \t \n", nullptr},
  };
  for (const Case& c : cases) {
    messages.clear();
    core::ResetRuntimeMessages();
    Events().clear();
    fx::FxScript script;
    std::string text = std::string("FXINSTANCE A PROBE\n") + c.line + "FXINSTANCE Z PROBE\n";
    ASSERT_EQ(script.Open(text.c_str(), true), 0);
    EXPECT_EQ(script.InstantiateAll(), -1) << c.line;
    // The instance before the failure stays until the script is closed; the
    // one behind it is never made.
    ASSERT_EQ(script.Instances().size(), 1u) << c.line;
    EXPECT_STREQ(script.Instances()[0]->InstanceName(), "A");
    EXPECT_EQ(EventsWith("Z.").size(), 0u);
    if (c.message) {
      EXPECT_EQ(messages, Strings{c.message}) << c.line;
    } else {
      EXPECT_TRUE(messages.empty()) << c.line;
    }
    script.Close();
    EXPECT_TRUE(script.Instances().empty());
  }
  // A failed Load destroys its instance at once.
  Events().clear();
  fx::FxScript script;
  ASSERT_EQ(script.Open("FXINSTANCE BAD PROBE FAILLOAD\n", true), 0);
  EXPECT_EQ(script.InstantiateAll(), -1);
  EXPECT_EQ(Events(), (Strings{"BAD.Load(FAILLOAD)", "BAD.Destroy"}));
}

TEST_F(EffectTest, BeforeStartUpHasFinishedMessagesAreErrorBoxesNotRunTimeMessages) {
  core::MarkStartupFinished(false);
  fx::FxScript script;
  testing::internal::CaptureStderr();
  EXPECT_EQ(script.Open("BOGUS\n", true), -1);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("ERROR: script line 1: unexpected command \"BOGUS\""), std::string::npos) << err;
  EXPECT_NE(err.find("ERROR: Error parsing script. Quitting"), std::string::npos) << err;
  EXPECT_TRUE(messages.empty());
}

TEST_F(EffectTest, DuplicateNamesFindTheOneDeclaredLater) {
  fx::FxScript script;
  Load(script, "FXINSTANCE TWIN PROBE FIRST\nFXINSTANCE TWIN PROBE SECOND\nFXSTART TWIN\nFXLAYER TWIN 4\nSYNCTIME 9\n");
  ASSERT_EQ(script.Instances().size(), 2u);
  auto* later = static_cast<fx_test::Probe*>(script.FindInstance("TWIN"));
  ASSERT_NE(later, nullptr);
  EXPECT_EQ(later->args(), "SECOND");
  Frame(script, 1.0f);
  EXPECT_EQ(script.Started(), std::vector<fx::FxInstance*>{later});
  EXPECT_EQ(later->Layer(), 4);
  EXPECT_EQ(script.Instances()[1]->Layer(), 0);
}

TEST_F(EffectTest, FindInstanceComparesNamesAsTheyAreStored) {
  std::string long_name(140, 'Q');
  fx::FxScript script;
  Load(script, "FXINSTANCE " + long_name + " PROBE\nFXSTART " + long_name + "\nSYNCTIME 5\n");
  ASSERT_EQ(script.Instances().size(), 1u);
  EXPECT_EQ(std::string(script.Instances()[0]->InstanceName()), long_name.substr(0, 127));
  EXPECT_EQ(script.FindInstance(long_name), script.Instances()[0].get());
  Frame(script, 1.0f);
  EXPECT_EQ(script.Started().size(), 1u);
}

// ---------------------------------------------------------------------------
// Replay
// ---------------------------------------------------------------------------

const char* kTimedScript =
    "FXINSTANCE A PROBE\n"
    "FXSTART A\n"
    "SYNCTIME 2\n"
    "FXCOMMAND A HELLO\n"
    "SYNCTIME 5\n"
    "FXSTART A\n"
    "SYNCTIME 10\n";

TEST_F(EffectTest, StartsAndCommandsCarryTheLastSyncTimeAndSeeTheScriptTime) {
  fx::FxScript script;
  Load(script, kTimedScript);
  EXPECT_EQ(script.Length(), 10.0f);

  script.Rewind();
  fx::SetEffectTime(7.0f);
  EXPECT_EQ(script.Step(), 1);
  EXPECT_EQ(fx::GetEffectTime(), 7.0f);
  EXPECT_EQ(Events(), (Strings{"A.Reset", "A.Start(0.00) et=7.00", "A.Command(2.00,'HELLO') et=7.00",
                               "A.Start(5.00) et=7.00"}));

  // 23 s wraps to 3 s.
  Events().clear();
  script.Rewind();
  fx::SetEffectTime(23.0f);
  EXPECT_EQ(script.Step(), 1);
  EXPECT_FLOAT_EQ(fx::GetEffectTime(), 3.0f);
  EXPECT_EQ(Events(), (Strings{"A.Reset", "A.Start(0.00) et=3.00", "A.Command(2.00,'HELLO') et=3.00"}));

  // Before the first sync point, at 0 exactly, and at a sync point exactly.
  for (float at : {0.0f, 1.5f}) {
    Events().clear();
    script.Rewind();
    fx::SetEffectTime(at);
    script.Step();
    EXPECT_EQ(Events(), (Strings{"A.Reset", core::FormatString("A.Start(0.00) et=%.2f", at)}));
  }
  Events().clear();
  script.Rewind();
  fx::SetEffectTime(2.0f);
  script.Step();
  EXPECT_EQ(Events(), (Strings{"A.Reset", "A.Start(0.00) et=2.00", "A.Command(2.00,'HELLO') et=2.00"}));

  // Played backwards past zero the remainder keeps the sign: nothing past
  // the first sync point runs.
  Events().clear();
  script.Rewind();
  fx::SetEffectTime(-3.0f);
  script.Step();
  EXPECT_EQ(fx::GetEffectTime(), -3.0f);
  EXPECT_EQ(Events(), (Strings{"A.Reset", "A.Start(0.00) et=-3.00"}));
}

TEST_F(EffectTest, TheWalkWritesItsTraceLines) {
  fx::FxScript script;
  Load(script, kTimedScript);
  TakeTrace();
  Frame(script, 7.0f);
  EXPECT_EQ(TakeTrace(),
            "FXSTART A\n"
            "FXSYNC: 2.00 Sync End\n"
            "Setting last sync point to 2.000000\n"
            "FXCOMMAND (2.00) A HELLO\n"
            "FXSYNC: 5.00 Sync End\n"
            "Setting last sync point to 5.000000\n"
            "FXSTART A\n"
            "FXSYNC: 10.00 Sync Start\n");
}

int CountLines(const std::string& text, const std::string& line) {
  int count = 0;
  for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + line.size())) ++count;
  return count;
}

TEST_F(EffectTest, ReplayedStatementsAreTracedOncePerPassNotOncePerFrame) {
  fx::FxScript script;
  Load(script, kTimedScript);
  TakeTrace();
  // 100 frames over two passes of the 10 s loop.
  for (int frame = 0; frame < 100; ++frame) Frame(script, static_cast<float>(frame) * 0.2f);
  const std::string trace = TakeTrace();
  EXPECT_EQ(CountLines(trace, "FXSTART A\n"), 4) << trace;
  EXPECT_EQ(CountLines(trace, "FXCOMMAND (2.00) A HELLO\n"), 2) << trace;
  EXPECT_EQ(CountLines(trace, "FXSYNC: 2.00 Sync Start\n"), 2) << trace;
  EXPECT_EQ(CountLines(trace, "FXSYNC: 5.00 Sync End\n"), 2) << trace;
  EXPECT_EQ(CountLines(trace, "FXSYNC: 10.00 Sync Start\n"), 2) << trace;
  // The same time again writes nothing; going back to an earlier time
  // passes the statements again, once.
  Frame(script, 7.0f);
  Frame(script, 7.0f);
  EXPECT_EQ(CountLines(TakeTrace(), "FXCOMMAND (2.00) A HELLO\n"), 1);
  Frame(script, 7.0f);
  EXPECT_EQ(TakeTrace(), "");
  Frame(script, 3.0f);
  EXPECT_EQ(CountLines(TakeTrace(), "FXCOMMAND (2.00) A HELLO\n"), 1);
}

TEST_F(EffectTest, AStepWithoutRewindWaitsAtItsSyncPointAndUsesTheScriptTime) {
  fx::FxScript script;
  Load(script, kTimedScript);
  script.Rewind();
  fx::SetEffectTime(1.0f);
  script.Step();
  TakeTrace();
  Events().clear();
  // Still before the sync point: nothing runs and "Sync Start" is not
  // traced again while waiting.
  fx::SetEffectTime(1.5f);
  EXPECT_EQ(script.Step(), 1);
  EXPECT_TRUE(Events().empty());
  EXPECT_EQ(TakeTrace(), "");
  // Past it, outside a seek: commands carry the script time itself.
  fx::SetEffectTime(3.0f);
  script.Step();
  EXPECT_EQ(Events(), (Strings{"A.Command(3.00,'HELLO') et=3.00"}));
  EXPECT_EQ(TakeTrace(), "FXSYNC: 2.00 Sync End\nFXCOMMAND (3.00) A HELLO\nFXSYNC: 5.00 Sync Start\n");
}

TEST_F(EffectTest, ALowerSyncTimeIsPassedAtOnce) {
  fx::FxScript script;
  Load(script,
       "FXINSTANCE A PROBE\nFXINSTANCE B PROBE\n"
       "SYNCTIME 5\nFXSTART A\nSYNCTIME 2\nFXSTART B\nSYNCTIME 10\n");
  Frame(script, 4.0f);
  EXPECT_TRUE(script.Started().empty());
  Events().clear();
  Frame(script, 6.0f);
  EXPECT_EQ(StartedNames(script), (Strings{"A", "B"}));
  EXPECT_EQ(EventsWith(".Start"), (Strings{"A.Start(5.00) et=6.00", "B.Start(2.00) et=6.00"}));
}

TEST_F(EffectTest, LoopingNeverPassesTheLastSyncTime) {
  fx::FxScript script;
  Load(script, "FXINSTANCE A PROBE\nFXINSTANCE B PROBE\nFXSTART A\nSYNCTIME 10\nFXSTART B\n");
  for (float at : {0.0f, 9.99f, 10.0f, 15.0f, 19.999f, 1000.0f, 1e7f, -4.0f}) {
    Frame(script, at);
    EXPECT_EQ(StartedNames(script), Strings{"A"}) << at;
    EXPECT_LT(fx::GetEffectTime(), 10.0f) << at;
  }
  EXPECT_TRUE(EventsWith("B.Start").empty());

  // Without looping the statement behind it runs, and the walk reports the
  // end of the script.
  fx::FxScript once;
  Load(once, "FXINSTANCE A PROBE\nFXINSTANCE B PROBE\nFXSTART A\nSYNCTIME 10\nFXSTART B\n", false);
  once.Rewind();
  fx::SetEffectTime(12.0f);
  EXPECT_EQ(once.Step(), 0);
  EXPECT_EQ(fx::GetEffectTime(), 12.0f);
  EXPECT_EQ(StartedNames(once), (Strings{"A", "B"}));
  EXPECT_EQ(EventsWith("B.Start"), Strings{"B.Start(10.00) et=12.00"});
  once.Rewind();
  fx::SetEffectTime(5.0f);
  EXPECT_EQ(once.Step(), 1);
}

TEST_F(EffectTest, ALoopingScriptOfLengthZeroPlaysAtTimeZero) {
  fx::FxScript script;
  Load(script, "FXINSTANCE A PROBE\nFXSTART A\nSYNCTIME 0\nFXCOMMAND A GO\nSYNCTIME -1\nFXCOMMAND A AGAIN\n");
  EXPECT_EQ(script.Length(), 0.0f);
  for (float at : {0.0f, 5.0f, -2.0f, INFINITY, NAN}) {
    Events().clear();
    script.Rewind();
    fx::SetEffectTime(at);
    EXPECT_EQ(script.Step(), 1) << at;  // ran through and wrapped
    EXPECT_EQ(fx::GetEffectTime(), 0.0f) << at;
    EXPECT_EQ(Events(), (Strings{"A.Reset", "A.Start(0.00) et=0.00", "A.Command(0.00,'GO') et=0.00",
                                 "A.Command(-1.00,'AGAIN') et=0.00"}))
        << at;
  }
}

TEST_F(EffectTest, EmptyCommandsAndLayersThatAreNotNumbers) {
  fx::FxScript script;
  Load(script, "FXINSTANCE A PROBE\nFXLAYER A 6\nFXLAYER A LAYERX\nFXCOMMAND A\nFXLAYER A 12 CLOSE\nSYNCTIME 3\n");
  Frame(script, 1.0f);
  EXPECT_EQ(EventsWith(".Command"), (Strings{"A.Command(0.00,'6') et=1.00", "A.Command(0.00,'LAYERX') et=1.00",
                                             "A.Command(0.00,'') et=1.00", "A.Command(0.00,'12 CLOSE') et=1.00"}));
  EXPECT_EQ(script.FindInstance("A")->Layer(), 12);

  fx::FxScript other;
  Load(other, "FXINSTANCE A PROBE\nFXLAYER A 6\nFXLAYER A NOTANUMBER\nSYNCTIME 3\n");
  Frame(other, 1.0f);
  EXPECT_EQ(other.FindInstance("A")->Layer(), 0);
  // FXLAYER sends its text as a command too: "LAYER 9" is both.
  fx::FxScript both;
  Load(both, "FXINSTANCE A PROBE\nFXLAYER A LAYER 9\nSYNCTIME 3\n");
  Frame(both, 1.0f);
  EXPECT_EQ(both.FindInstance("A")->Layer(), 9);
}

TEST_F(EffectTest, StatementsNamingUnknownInstancesAreSkipped) {
  fx::FxScript script;
  Load(script,
       "FXINSTANCE A PROBE\nFXSTART GHOST\nFXCOMMAND GHOST X\nFXLAYER GHOST 3\nFXSTOP GHOST\nFXSTART A\nSYNCTIME 3\n");
  TakeTrace();
  Frame(script, 1.0f);
  EXPECT_EQ(StartedNames(script), Strings{"A"});
  std::string trace = TakeTrace();
  for (const char* kind : {"FXSTART", "FXCOMMAND", "FXLAYER", "FXSTOP"})
    EXPECT_NE(trace.find(std::string("FXSCRIPT: ") + kind + " names no instance GHOST, skipped"), std::string::npos)
        << trace;
  EXPECT_TRUE(messages.empty());
}

TEST_F(EffectTest, StartingOrStoppingAnInstanceNamedFilterIsIgnored) {
  fx::FxScript script;
  Load(script, "FXINSTANCE FILTER PROBE\nFXSTART FILTER\nFXLAYER FILTER 2\nSYNCTIME 1\nFXSTOP FILTER\nSYNCTIME 3\n");
  TakeTrace();
  Frame(script, 2.0f);
  EXPECT_TRUE(script.Started().empty());
  EXPECT_TRUE(EventsWith(".Start").empty());
  EXPECT_TRUE(EventsWith(".Stop").empty());
  EXPECT_EQ(script.FindInstance("FILTER")->Layer(), 2);
  std::string trace = TakeTrace();
  size_t first = trace.find("ERROR: Ignoring FXSTART FXFILTER\n");
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(trace.find("ERROR: Ignoring FXSTART FXFILTER\n", first + 1), std::string::npos);
}

TEST_F(EffectTest, StartedListOrderRestartsAndStops) {
  fx::FxScript script;
  Load(script,
       "FXINSTANCE A PROBE\nFXINSTANCE B PROBE\nFXINSTANCE C PROBE\n"
       "FXSTART A\nFXSTART B\nFXSTART C\nSYNCTIME 1\nFXSTART A\nSYNCTIME 2\nFXSTOP B\nSYNCTIME 3\nFXSTART B\n"
       "SYNCTIME 10\n");
  Frame(script, 0.5f);
  EXPECT_EQ(StartedNames(script), (Strings{"A", "B", "C"}));
  EXPECT_EQ(EventsWith(".Render"), (Strings{"A.Render(0.50) L0 et=0.50", "B.Render(0.50) L0 et=0.50",
                                            "C.Render(0.50) L0 et=0.50"}));
  // A restart moves A to the end: drawn after the others of its layer.
  Events().clear();
  Frame(script, 1.5f);
  EXPECT_EQ(StartedNames(script), (Strings{"B", "C", "A"}));
  EXPECT_EQ(EventsWith(".Render"), (Strings{"B.Render(1.50) L0 et=1.50", "C.Render(1.50) L0 et=1.50",
                                            "A.Render(1.50) L0 et=1.50"}));
  Events().clear();
  Frame(script, 2.5f);
  EXPECT_EQ(StartedNames(script), (Strings{"C", "A"}));
  EXPECT_EQ(EventsWith("B.Stop"), Strings{"B.Stop"});
  Frame(script, 3.5f);
  EXPECT_EQ(StartedNames(script), (Strings{"C", "A", "B"}));
  // Seeking back rebuilds the list from the start.
  Frame(script, 0.25f);
  EXPECT_EQ(StartedNames(script), (Strings{"A", "B", "C"}));
}

TEST_F(EffectTest, EveryReplayResetsEveryInstanceNewestFirst) {
  fx::FxScript script;
  Load(script, "FXINSTANCE A PROBE\nFXINSTANCE B PROBE\nFXINSTANCE C PROBE\nSYNCTIME 4\n");
  Frame(script, 1.0f);
  Frame(script, 1.0f);
  EXPECT_EQ(EventsWith(".Reset"), (Strings{"C.Reset", "B.Reset", "A.Reset", "C.Reset", "B.Reset", "A.Reset"}));
}

// ---------------------------------------------------------------------------
// Drawing
// ---------------------------------------------------------------------------

TEST_F(EffectTest, ADeckIsNinePassesOverSixteenLayers) {
  fx::FxScript script;
  Load(script,
       "FXINSTANCE LOW PROBE\nFXINSTANCE HIGH PROBE\nFXINSTANCE MID PROBE\n"
       "FXLAYER HIGH 9\nFXLAYER LOW 3\nFXLAYER MID 8\n"
       "FXSTART HIGH\nFXSTART MID\nFXSTART LOW\nSYNCTIME 5\n");
  Frame(script, 2.0f);
  // Each instance is updated and drawn once per frame, in layer order.
  EXPECT_EQ(EventsWith(".Update"), (Strings{"LOW.Update(2.00) L3", "MID.Update(2.00) L8", "HIGH.Update(2.00) L9"}));
  EXPECT_EQ(EventsWith(".Render"),
            (Strings{"LOW.Render(2.00) L3 et=2.00", "MID.Render(2.00) L8 et=2.00", "HIGH.Render(2.00) L9 et=2.00"}));
  // After-pass: nine passes, each over all sixteen layers.
  EXPECT_EQ(EventsWith("LOW.AfterPass").size(), 9u);
  EXPECT_EQ(EventsWith("HIGH.AfterPass").size(), 9u);
  // Every started instance sees every layer of every pass: 0..15 once each.
  Strings expected_layers;
  for (int layer = 0; layer < 16; ++layer) expected_layers.push_back(core::FormatString("LOW.BeforeLayer(%d)", layer));
  EXPECT_EQ(EventsWith("LOW.BeforeLayer"), expected_layers);
  EXPECT_EQ(EventsWith("HIGH.AfterLayer").size(), 16u);

  // Within one layer: before-layer on all, the drawing, after-layer on all.
  const Strings& e = Events();
  auto at = [&](const std::string& what) { return std::find(e.begin(), e.end(), what) - e.begin(); };
  EXPECT_LT(at("HIGH.BeforeLayer(3)"), at("LOW.Render(2.00) L3 et=2.00"));
  EXPECT_LT(at("LOW.Render(2.00) L3 et=2.00"), at("HIGH.AfterLayer(3)"));
  // The shared pass (8,16): updates of both layers before any drawing.
  EXPECT_LT(at("HIGH.Update(2.00) L9"), at("MID.Render(2.00) L8 et=2.00"));
}

TEST_F(EffectTest, Layers16AndMinus1AreNeverDrawn) {
  fx::FxScript script;
  Load(script, "FXINSTANCE OVER PROBE\nFXINSTANCE UNDER PROBE\nFXLAYER OVER 16\nFXLAYER UNDER -1\n"
               "FXSTART OVER\nFXSTART UNDER\nSYNCTIME 5\n");
  Frame(script, 1.0f);
  EXPECT_EQ(StartedNames(script), (Strings{"OVER", "UNDER"}));
  EXPECT_TRUE(EventsWith(".Update").empty());
  EXPECT_TRUE(EventsWith(".Render").empty());
  EXPECT_TRUE(EventsWith(".AfterPass").empty());
  EXPECT_EQ(EventsWith("OVER.BeforeLayer").size(), 16u);
  EXPECT_EQ(EventsWith("UNDER.AfterLayer").size(), 16u);
}

TEST_F(EffectTest, AnInstanceThatFinishesIsStoppedAndStartedAgainNextFrame) {
  fx::FxScript script;
  Load(script, "FXINSTANCE ONCE PROBE ONESHOT\nFXINSTANCE KEEP PROBE\nFXLAYER KEEP 2\n"
               "FXSTART ONCE\nFXSTART KEEP\nSYNCTIME 5\n");
  Frame(script, 1.0f);
  EXPECT_EQ(StartedNames(script), Strings{"KEEP"});
  // Dropped as soon as its layer was drawn: no after-pass, and the later
  // layers no longer see it.
  EXPECT_EQ(EventsWith("ONCE.Render").size(), 1u);
  EXPECT_EQ(EventsWith("ONCE.Stop"), Strings{"ONCE.Stop"});
  EXPECT_TRUE(EventsWith("ONCE.AfterPass").empty());
  EXPECT_TRUE(EventsWith("ONCE.AfterLayer").empty());
  EXPECT_EQ(EventsWith("ONCE.BeforeLayer"), Strings{"ONCE.BeforeLayer(0)"});
  EXPECT_EQ(EventsWith("KEEP.Render").size(), 1u);
  Events().clear();
  Frame(script, 1.1f);
  EXPECT_EQ(EventsWith("ONCE.Start").size(), 1u);
  EXPECT_EQ(EventsWith("ONCE.Render").size(), 1u);
}

TEST_F(EffectTest, HiddenInstancesAreOnlyToldAboutLayers) {
  fx::FxScript script;
  Load(script, "FXINSTANCE A PROBE\nFXSTART A\nSYNCTIME 5\n");
  script.FindInstance("A")->SetHidden(1);
  Frame(script, 1.0f);
  EXPECT_TRUE(EventsWith(".Update").empty());
  EXPECT_TRUE(EventsWith(".Render").empty());
  EXPECT_TRUE(EventsWith(".AfterPass").empty());
  EXPECT_EQ(EventsWith(".BeforeLayer").size(), 16u);
}

TEST_F(EffectTest, PassesDrawNothingBeforeTheFirstRewind) {
  fx::FxScript script;
  Load(script, "FXINSTANCE A PROBE\nFXSTART A\nSYNCTIME 5\n");
  EXPECT_FALSE(script.Enabled());
  EXPECT_EQ(script.RenderPass(0, 16), 1);
  EXPECT_TRUE(Events().empty());
  script.Rewind();
  EXPECT_TRUE(script.Enabled());
}

TEST_F(EffectTest, AFailingCommandIsReportedOncePerLoadNotOncePerFrame) {
  fx::FxScript script;
  Load(script, "FXINSTANCE A PROBE FAILCMD\nFXCOMMAND A BAD THING\nFXCOMMAND A GOOD\nFXSTART A\nSYNCTIME 100\n");
  for (int frame = 0; frame < 20; ++frame) {
    Frame(script, 0.5f + frame * 0.1f);
    clock.Advance(6.0);  // beyond the sink's own repeat window
  }
  EXPECT_EQ(messages, Strings{"A : Error sending command to"});
  // The walk went on after the failure, every frame.
  EXPECT_EQ(EventsWith("A.Command(0.00,'GOOD')").size(), 20u);
  EXPECT_EQ(EventsWith("A.Start").size(), 20u);

  // A new load reports it again, once.
  Load(script, "FXINSTANCE A PROBE FAILCMD\nFXCOMMAND A BAD THING\nSYNCTIME 100\n");
  for (int frame = 0; frame < 5; ++frame) {
    Frame(script, 1.0f);
    clock.Advance(6.0);
  }
  EXPECT_EQ(messages, (Strings{"A : Error sending command to", "A : Error sending command to"}));
}

TEST_F(EffectTest, CloseDestroysTheInstancesNewestFirst) {
  {
    fx::FxScript script;
    Load(script, "FXINSTANCE A PROBE\nFXINSTANCE B PROBE\nFXSTART A\nSYNCTIME 3\n");
    Frame(script, 1.0f);
    Events().clear();
    script.Close();
    EXPECT_EQ(Events(), (Strings{"B.Destroy", "A.Destroy"}));
    EXPECT_FALSE(script.Loaded());
    EXPECT_TRUE(script.Started().empty());
    EXPECT_TRUE(script.Commands().empty());
    EXPECT_EQ(script.Length(), 0.0f);
    // A closed script draws nothing and walks nothing.
    Events().clear();
    Frame(script, 1.0f);
    EXPECT_TRUE(Events().empty());
    ASSERT_EQ(script.Open("FXINSTANCE C PROBE\n", true), 0);
    ASSERT_EQ(script.InstantiateAll(), 0);
    Events().clear();
  }
  // The destructor closes too; opening again closed the old ones first.
  EXPECT_EQ(Events(), Strings{"C.Destroy"});
}

// ---------------------------------------------------------------------------
// Material library
// ---------------------------------------------------------------------------

TEST_F(EffectTest, TheMaterialLibraryIsCurrentWhileLoadingReplayingDrawingAndUnloading) {
  UseRecordingMaterials();
  {
    fx::FxScript script;
    ASSERT_EQ(script.Open("FXINSTANCE A PROBE\nFXSTART A\nFXCOMMAND A X\nSYNCTIME 5\n", true), 0);
    EXPECT_EQ(fx_test::MaterialDepth(), 0);
    ASSERT_NE(script.Materials(), nullptr);
    ASSERT_EQ(script.InstantiateAll(), 0);
    EXPECT_EQ(fx_test::MaterialDepth(), 0);
    Frame(script, 1.0f);
    EXPECT_EQ(fx_test::MaterialDepth(), 0);
    EXPECT_EQ(EventsWith(" et="), (Strings{"A.Start(0.00) et=1.00 [mat]", "A.Command(0.00,'X') et=1.00 [mat]",
                                         "A.Render(1.00) L0 et=1.00 [mat]"}));
    for (const std::string& e : EventsWith(" et=")) EXPECT_NE(e.find("[mat]"), std::string::npos) << e;
    EXPECT_EQ(EventsWith("mat.Load"), Strings{"mat.Load(data/shaders/) [mat]"});
    EXPECT_EQ(EventsWith("A.Load"), Strings{"A.Load() [mat]"});
    Events().clear();
  }
  // Closing: instances go while the library is current, then its contents,
  // then the library itself.
  EXPECT_EQ(Events(), (Strings{"A.Destroy", "mat.Clear [mat]", "mat.Destroy"}));
  EXPECT_EQ(fx_test::MaterialDepth(), 0);
}

TEST_F(EffectTest, AMaterialLibraryThatFailsToLoadFailsTheOpen) {
  UseRecordingMaterials(/*load_fails=*/true);
  fx::FxScript script;
  EXPECT_EQ(script.Open("FXINSTANCE A PROBE\n", true), -1);
  EXPECT_EQ(messages, Strings{"Error initializing Shader Manager"});
  EXPECT_FALSE(script.Loaded());
  EXPECT_EQ(script.Materials(), nullptr);
  EXPECT_TRUE(script.Commands().empty());
  EXPECT_EQ(fx_test::MaterialDepth(), 0);
  EXPECT_EQ(EventsWith("mat.Destroy").size(), 1u);
}

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------

TEST_F(EffectTest, OpenFileReadsThroughTheFileLayerCaseInsensitively) {
  testing_support::MakeDirs(dir / "show/effects/My.fx/Data");
  testing_support::WriteFile(dir / "show/effects/My.fx/Data/Script.TXT",
                             "FXINSTANCE A PROBE\r\nFXSTART A\r\nSYNCTIME 8\r\n");
  ASSERT_EQ(core::StartFileLayer(dir / "show"), 0);
  core::PushBaseFolder("EFFECTS/my.FX");
  fx::FxScript script;
  EXPECT_EQ(script.OpenFile("data/script.txt", true), 0);
  EXPECT_TRUE(script.Looping());
  ASSERT_EQ(script.Commands().size(), 3u);
  EXPECT_EQ(script.Commands()[0].text, "PROBE");
  EXPECT_EQ(script.Length(), 8.0f);

  // Nothing was opened, so what was open stays.
  EXPECT_EQ(script.OpenFile("data/missing.txt", true), -1);
  EXPECT_TRUE(script.Loaded());
  EXPECT_EQ(script.Commands().size(), 3u);
  // A folder is no script.
  EXPECT_EQ(script.OpenFile("data", true), -1);
  core::PopBaseFolder();
  core::StopFileLayer();
  EXPECT_EQ(messages, (Strings{"File not found data/missing.txt", "File not found data"}));
}

TEST_F(EffectTest, OpenFileOfABrokenScriptFailsWithTheParseMessages) {
  testing_support::WriteFile(dir / "script.txt", "FXINSTANCE A PROBE\nFXBOGUS A\n");
  fx::FxScript script;
  EXPECT_EQ(script.OpenFile((dir / "script.txt").c_str(), true), -1);
  EXPECT_EQ(messages, (Strings{"script line 2: unexpected command \"FXBOGUS\"", "Error parsing script. Quitting\n"}));
  EXPECT_FALSE(script.Loaded());
}

}  // namespace
