// Ardour's inline-display extension: the plugin draws a small picture of
// itself that the host shows in its mixer strip.  Debian's LV2 headers do
// not carry it, so its few words are declared here as the host defines
// them.
#pragma once

#include <lv2/core/lv2.h>

#define LV2_INLINEDISPLAY_URI "http://harrisonconsoles.com/lv2/inlinedisplay"
#define LV2_INLINEDISPLAY__interface LV2_INLINEDISPLAY_URI "#interface"
#define LV2_INLINEDISPLAY__queue_draw LV2_INLINEDISPLAY_URI "#queue_draw"

extern "C" {

typedef void *LV2_Inline_Display_Handle;

// ARGB32 pixels, owned by the plugin from the first render to cleanup.
typedef struct {
    unsigned char *data;
    int width, height, stride;
} LV2_Inline_Display_Image_Surface;

// The host's feature: run asks for a render later.
typedef struct {
    LV2_Inline_Display_Handle handle;
    void (*queue_draw)(LV2_Inline_Display_Handle handle);
} LV2_Inline_Display;

// The plugin's extension data, called by the host outside the audio
// thread with the largest width and height it shows.
typedef struct {
    LV2_Inline_Display_Image_Surface *(*render)(LV2_Handle instance, uint32_t w, uint32_t h);
} LV2_Inline_Display_Interface;
}
