// The plugin's inline display, in a host of the test's own making: the
// snapshots the audio thread hands over, the draws it asks for, and what
// render draws from them.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <lv2/atom/forge.h>
#include <lv2/midi/midi.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include "counting.h"
#include "display/inline_display.h"
#include "uri_map.h"

namespace {

using lv2uitest::map_uri;

// The instance builds its first object by itself; later work is refused.
LV2_Worker_Status refuse(LV2_Worker_Schedule_Handle, uint32_t, const void *)
{
    return LV2_WORKER_ERR_NO_SPACE;
}

void count_draw(LV2_Inline_Display_Handle h)
{
    ++*(int *)h;
}

const double RATE = 48000;
const uint32_t BLOCK = 256;

class Display : public ::testing::Test {
protected:
    void open(bool with_display)
    {
        lib = dlopen(LOOPMASS_LV2_BUNDLE "loopmass.so", RTLD_NOW | RTLD_LOCAL);
        ASSERT_TRUE(lib) << dlerror();
        auto entry = (const LV2_Descriptor *(*)(uint32_t))dlsym(lib, "lv2_descriptor");
        ASSERT_TRUE(entry);
        desc = entry(0);
        static LV2_URID_Map map = {nullptr, map_uri};
        static LV2_Worker_Schedule schedule = {nullptr, refuse};
        queue = LV2_Inline_Display{&draws, count_draw};
        const LV2_Feature map_f = {LV2_URID__map, &map}, schedule_f = {LV2_WORKER__schedule, &schedule},
                          queue_f = {LV2_INLINEDISPLAY__queue_draw, &queue};
        const LV2_Feature *features[] = {&map_f, &schedule_f, with_display ? &queue_f : nullptr, nullptr};
        h = desc->instantiate(desc, RATE, LOOPMASS_LV2_BUNDLE, features);
        ASSERT_TRUE(h);
        iface = (const LV2_Inline_Display_Interface *)desc->extension_data(LV2_INLINEDISPLAY__interface);
        ASSERT_TRUE(iface);
        desc->connect_port(h, 0, midi);
        desc->connect_port(h, 1, out);
        desc->activate(h);
        lv2_atom_forge_init(&forge, &map);
    }
    void TearDown() override
    {
        if (h)
            desc->cleanup(h);
        if (lib)
            dlclose(lib);
    }
    // Runs blocks, a note struck in the first when asked; counts what run
    // allocates.
    void run(int blocks, bool note = false)
    {
        for (int b = 0; b < blocks; b++) {
            lv2_atom_forge_set_buffer(&forge, (uint8_t *)midi, sizeof midi);
            LV2_Atom_Forge_Frame seq;
            lv2_atom_forge_sequence_head(&forge, &seq, 0);
            if (note && b == 0) {
                const uint8_t on[3] = {LV2_MIDI_MSG_NOTE_ON, 48, 100};
                lv2_atom_forge_frame_time(&forge, 0);
                lv2_atom_forge_atom(&forge, 3, map_uri(nullptr, LV2_MIDI__MidiEvent));
                lv2_atom_forge_write(&forge, on, 3);
            }
            lv2_atom_forge_pop(&forge, &seq);
            counting::enable(true);
            desc->run(h, BLOCK);
            counting::enable(false);
        }
    }
    // The rendered image's pixels.
    std::vector<uint32_t> render(uint32_t w, uint32_t max_h, int *width, int *height)
    {
        const LV2_Inline_Display_Image_Surface *s = iface->render(h, w, max_h);
        *width = s->width;
        *height = s->height;
        std::vector<uint32_t> px;
        for (int y = 0; y < s->height; y++)
            px.insert(px.end(), (const uint32_t *)(s->data + y * s->stride),
                      (const uint32_t *)(s->data + y * s->stride) + s->width);
        return px;
    }

    void *lib = nullptr;
    const LV2_Descriptor *desc = nullptr;
    LV2_Handle h = nullptr;
    const LV2_Inline_Display_Interface *iface = nullptr;
    LV2_Inline_Display queue;
    int draws = 0;
    uint64_t midi[512];
    float out[BLOCK];
    LV2_Atom_Forge forge;
};

int differ(const std::vector<uint32_t> &a, const std::vector<uint32_t> &b)
{
    int n = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); i++)
        n += a[i] != b[i];
    return n;
}

// Draws are asked at most FRAMES_MAX times a second of audio, with no
// allocation in run, and the ring drawn moves with the struck note.
TEST_F(Display, DrawsTheMovingRingAtMostThirtyTimesASecond)
{
    open(true);
    const int second = (int)(RATE / BLOCK);
    const long before = counting::allocations();
    run(second, true);
    if (counting::available()) {
        EXPECT_EQ(counting::allocations(), before);
    }
    EXPECT_GE(draws, 25);
    EXPECT_LE(draws, 30);
    int w, hh;
    const std::vector<uint32_t> rest(render(120, 400, &w, &hh));
    EXPECT_EQ(w, 120);
    EXPECT_EQ(hh, 120);
    run(8);
    const std::vector<uint32_t> a = render(120, 400, &w, &hh);
    run(8);
    const std::vector<uint32_t> b = render(120, 400, &w, &hh);
    EXPECT_GT(differ(a, b), 100);
    // Beside the loop, only the background.
    const uint32_t paper = a[0];
    int drawn = 0;
    for (uint32_t p : a)
        drawn += p != paper;
    EXPECT_GT(drawn, 500);

    // A host showing it narrower and lower gets an image of its size.
    render(60, 40, &w, &hh);
    EXPECT_EQ(w, 60);
    EXPECT_EQ(hh, 40);
}

// Without the host's feature no snapshot is taken, and render still
// answers with the circle the masses rest on.
TEST_F(Display, WithoutTheFeatureNothingIsAsked)
{
    open(false);
    run(200, true);
    EXPECT_EQ(draws, 0);
    int w, hh;
    const std::vector<uint32_t> a = render(80, 80, &w, &hh);
    run(50);
    EXPECT_EQ(differ(a, render(80, 80, &w, &hh)), 0);
}

} // namespace
