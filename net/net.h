// The whole net module, for one transition: include the topic header you
// need instead (socket.h, wire.h, link.h; preset files are show/preset.h).
#pragma once

#include "net/link.h"
#include "net/socket.h"
#include "net/wire.h"
