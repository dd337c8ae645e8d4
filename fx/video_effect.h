// The VIDEOSTREAM effect: a video from the effect's data/videos/ drawn as a
// screen-filling picture, looping, tinted and blended. Each deck that draws
// an instance gets its own player (a worker thread) and texture, so one
// effect on two decks at different times does not seek back and forth.
//
// Typical use: nothing; scripts name the class. Fixed-rate runs call
// fx::SetVideoExactFrames(true) so every Render shows exactly its frame.
// Not here: decoding (media::AviVideo, media::VideoPlayer).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "media/media.h"

namespace fx {

// Whether Render waits for its frame (at most kVideoExactWaitSeconds, then
// the old picture and one log line) instead of drawing the newest picture
// it has. Off: the show never waits for a decoder.
void SetVideoExactFrames(bool exact);
bool VideoExactFrames();
inline constexpr double kVideoExactWaitSeconds = 5.0;

// Opens a video source for a disk path, its pictures no larger than
// max_width x max_height; nullptr with *error set on failure (`shown` names
// the file in messages).
using VideoSourceOpener = std::function<std::unique_ptr<media::VideoFrameSource>(
    const std::string& disk_path, const char* shown, uint32_t max_width, uint32_t max_height, std::string* error)>;
// Replaces the opener (tests); an empty one restores FFmpeg's.
void SetVideoSourceOpener(VideoSourceOpener opener);

class Loader;
// Asks `loader` to open the video at `path` (relative to the current base
// folder, resolved here) for job `job`; an instance loading that file
// takes it from there instead of opening it on the frame thread. The key
// to wait for, or "" when the file does not resolve.
std::string PrepareVideo(Loader* loader, int job, const char* path);

}  // namespace fx
