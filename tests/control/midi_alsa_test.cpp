// The real MIDI input on the ALSA sequencer: a virtual controller port made
// by the test is found, its messages arrive, and unplugging it is noticed.
// Skipped, with the reason, on a machine without the sequencer device.
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <rtmidi/RtMidi.h>

#include "control/control.h"

namespace {

bool Contains(const std::vector<std::string>& lines, const std::string& part) {
  for (const std::string& line : lines)
    if (line.find(part) != std::string::npos) return true;
  return false;
}

TEST(MidiAlsa, AVirtualControllerIsFoundHeardAndUnplugged) {
  std::string error;
  std::unique_ptr<control::MidiInput> input = control::OpenMidiInput("vj test", "vj-test-controller", &error);
  if (!control::MidiAvailable()) {
    EXPECT_FALSE(input);
    EXPECT_NE(error.find("ALSA sequencer"), std::string::npos) << error;
    GTEST_SKIP() << "no ALSA sequencer device here (/dev/snd/seq; load snd-seq or snd-seq-dummy): " << error;
  }
  ASSERT_TRUE(input) << error;
  auto controller = std::make_unique<RtMidiOut>(RtMidi::LINUX_ALSA, "vj-test-controller");
  controller->openVirtualPort("knobs");

  std::vector<std::string> log;
  std::vector<control::MidiMessage> messages;
  // The port list is read once a second: the port opens within two.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (input->OpenPorts().empty() && std::chrono::steady_clock::now() < deadline) {
    input->Poll(&messages, &log);
    usleep(20000);
  }
  ASSERT_EQ(input->OpenPorts().size(), 1u);
  EXPECT_TRUE(Contains(log, "opened"));

  std::vector<unsigned char> cc = {0xB0, 7, 99};
  std::vector<unsigned char> clock = {0xF8};
  controller->sendMessage(&cc);
  controller->sendMessage(&clock);
  for (int i = 0; i < 100 && messages.size() < 2; ++i) {
    input->Poll(&messages, &log);
    usleep(10000);
  }
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].kind(), control::kMidiControlChange);
  EXPECT_EQ(messages[0].data2, 99);
  EXPECT_EQ(messages[1].status, control::kMidiClockPulse);

  controller.reset();  // unplugged
  log.clear();
  const auto gone = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (!input->OpenPorts().empty() && std::chrono::steady_clock::now() < gone) {
    input->Poll(&messages, &log);
    usleep(20000);
  }
  EXPECT_TRUE(input->OpenPorts().empty());
  EXPECT_TRUE(Contains(log, "went away"));
}

}  // namespace
