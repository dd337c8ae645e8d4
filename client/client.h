// The Client: the performer's control surface, for one transition: include
// the topic header you need instead.
//
//   logic  panel.h (ControllerPanel with Trackbar, keyboard, BeatGraph),
//          dialogs.h (ConnectionDialog, PresetDialog), window.h
//          (ClientWindow, the panel template, the program's hooks),
//          midi_map.h (MIDI learn and what MIDI messages do). Plain
//          classes; tests drive them over loopback and feed key states.
//   view   an SDL window with its own GL context and Dear ImGui context that
//          draws the logic's state each frame and reports what the performer
//          did back to it (view_imgui.cpp, client_window_sdl.cpp).
#pragma once

#include "client/dialogs.h"
#include "client/midi_map.h"
#include "client/panel.h"
#include "client/window.h"
