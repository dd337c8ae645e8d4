// The whole fx module, for one transition: include the topic header you
// need instead (timing.h, effect.h, image_effect.h, video_effect.h).
#pragma once

#include "fx/effect.h"
#include "fx/image_effect.h"
#include "fx/timing.h"
#include "fx/video_effect.h"
