// What the plugin and its window say to each other, as atoms on the
// plugin's control port (window to plugin) and notify port (plugin to
// window).  The window never reads the object: it sees what these atoms
// carry, and changes the object with control ports and these messages.
//
// Window to plugin:
// - a Watch object with `rate` (Int, frames per second of audio, 0 stops):
//   the window is open and asks for Frames at that rate, at most FRAMES_MAX.
//   Asking again (the window reopened) also sends every Profile again.
// - a patch:Set with patch:property `profile`, `kind` (Int, 1 to 6) and
//   patch:value a Vector of Float: a profile drawn by hand, sent to the
//   object as a list on that profile's inlet.  It lasts until the next
//   preset recall, as such a list does, and is kept in the session.
// - a Strike object: strikes the ring.
//
// Plugin to window, only while a window watches:
// - a Frame object at the rate asked: `ring` (Vector of Float, the ring's
//   newest shape, one value per mass), `phases` and `gains` (Vector of
//   Float, NOSC each: where each oscillator reads the ring, 0 to 1, and the
//   gain it sounds at now), `preset` (Int, the preset last recalled).
// - a Profile object whenever an effective profile changes: `kind` (Int, 1
//   to 6) and `values` (Vector of Float, one per mass).
#pragma once

#define LOOPMASS_WINDOW_URI "urn:loopmass:lv2#window"
#define LOOPMASS__Watch "urn:loopmass:lv2#Watch"
#define LOOPMASS__Frame "urn:loopmass:lv2#Frame"
#define LOOPMASS__Profile "urn:loopmass:lv2#Profile"
#define LOOPMASS__Strike "urn:loopmass:lv2#Strike"
#define LOOPMASS__rate "urn:loopmass:lv2#rate"
#define LOOPMASS__ring "urn:loopmass:lv2#ring"
#define LOOPMASS__phases "urn:loopmass:lv2#phases"
#define LOOPMASS__gains "urn:loopmass:lv2#gains"
#define LOOPMASS__preset "urn:loopmass:lv2#preset"
#define LOOPMASS__profile "urn:loopmass:lv2#profile"
#define LOOPMASS__kind "urn:loopmass:lv2#kind"
#define LOOPMASS__values "urn:loopmass:lv2#values"

namespace lv2window {

// Frames a window may ask for, per second of audio.
const int FRAMES_MAX = 30;

} // namespace lv2window
