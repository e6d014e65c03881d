// The colours and scales every picture of the ring uses: the command
// line's PNGs, the plugin's window and the page.  Nothing here draws, so
// builds without Cairo (the page) share it too.
#pragma once

#include <string>

namespace draw {

// Position -1 to 1 as a colour: dark blue through white to dark red, in
// 64 steps of 1/32, finer than the eye tells colours apart and coarse
// enough to keep the PNG files small.  Components 0 to 1.
void position_colour(float v, double rgb[3]);

// A tick spacing of 1, 2 or 5 times a power of ten that cuts `span` into
// at most `most` parts.
double tick_step(double span, int most);

// Shortest text of a tick value (%g drops the noise of a sum of steps).
std::string number_text(double v);

} // namespace draw
