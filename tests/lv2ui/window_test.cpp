// The LV2 window, loaded from the bundle with no display: it is fed the
// atoms and port values a host would pass on, draws into an image through
// its view interface, and is clicked and dragged on there.
#include <gtest/gtest.h>

#include <cairo.h>
#include <dlfcn.h>
#include <fontconfig/fontconfig.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/midi/midi.h>
#include <lv2/patch/patch.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include "plots.h"
#include "scales.h"
#include "ui/ui.h"
#include "uri_map.h"
#include "window.h"

namespace {

using namespace lv2plugin;
using lv2ui::Layout;
using lv2ui::Rect;

const int W = lv2ui::DEFAULT_WIDTH, H = lv2ui::DEFAULT_HEIGHT;

using lv2uitest::map_uri;

LV2_URID urid(const char *uri)
{
    return map_uri(nullptr, uri);
}

// What the window wrote to a port: a float, or an atom.
struct Written {
    uint32_t port, format;
    std::vector<uint8_t> bytes;
    const LV2_Atom *atom() const { return (const LV2_Atom *)bytes.data(); }
    const LV2_Atom_Object *object() const { return (const LV2_Atom_Object *)bytes.data(); }
    float value() const { return *(const float *)bytes.data(); }
};

void record(LV2UI_Controller c, uint32_t port, uint32_t size, uint32_t format, const void *buffer)
{
    const uint8_t *b = (const uint8_t *)buffer;
    ((std::vector<Written> *)c)->push_back(Written{port, format, std::vector<uint8_t>(b, b + size)});
}

// An image and the colour of its pixels, as 0xRRGGBB.
struct Image {
    cairo_surface_t *s;
    Image(int w, int h) : s(cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h)) {}
    ~Image() { cairo_surface_destroy(s); }
    uint32_t at(double x, double y) const
    {
        cairo_surface_flush(s);
        const uint8_t *row = cairo_image_surface_get_data(s) + (int)y * cairo_image_surface_get_stride(s);
        return ((const uint32_t *)row)[(int)x] & 0xffffff;
    }
    // Pixels that differ between two images within a rectangle.
    int differ(const Image &o, const Rect &r) const
    {
        int n = 0;
        for (int y = (int)r.y; y < (int)(r.y + r.h); y++)
            for (int x = (int)r.x; x < (int)(r.x + r.w); x++)
                n += at(x, y) != o.at(x, y);
        return n;
    }
};

uint32_t rgb_of(const double c[3])
{
    return (uint32_t)std::lround(c[0] * 255) << 16 | (uint32_t)std::lround(c[1] * 255) << 8 |
           (uint32_t)std::lround(c[2] * 255);
}

class Window : public ::testing::Test {
protected:
    void SetUp() override
    {
        // No display to open, whatever the machine has.
        unsetenv("DISPLAY");
        lib = dlopen(LOOPMASS_LV2_BUNDLE "loopmass_ui.so", RTLD_NOW | RTLD_LOCAL);
        ASSERT_TRUE(lib) << dlerror();
        auto entry = (const LV2UI_Descriptor *(*)(uint32_t))dlsym(lib, "lv2ui_descriptor");
        ASSERT_TRUE(entry);
        desc = entry(0);
        ASSERT_TRUE(desc);
        static LV2_URID_Map map = {nullptr, map_uri};
        static const LV2_Feature map_feature = {LV2_URID__map, &map};
        const LV2_Feature *features[] = {&map_feature, nullptr};
        LV2UI_Widget widget = (LV2UI_Widget)1;
        ui = desc->instantiate(desc, "urn:loopmass:lv2", LOOPMASS_LV2_BUNDLE, record, &sent, &widget, features);
        ASSERT_TRUE(ui);
        EXPECT_EQ(widget, nullptr);
        view = (const lv2ui::ViewInterface *)desc->extension_data(LOOPMASS_VIEW_URI);
        ASSERT_TRUE(view);
        lv2_atom_forge_init(&forge, &map);
        lay = lv2ui::layout(W, H);
    }
    void TearDown() override
    {
        if (ui)
            desc->cleanup(ui);
        if (lib)
            dlclose(lib);
    }

    void notify(const LV2_Atom *a)
    {
        desc->port_event(ui, PORT_NOTIFY, lv2_atom_total_size(a), urid(LV2_ATOM__eventTransfer), a);
    }
    void port(uint32_t index, float v) { desc->port_event(ui, index, sizeof v, 0, &v); }

    void frame(const std::vector<float> &ring, const float phases[5], const float gains[5])
    {
        lv2_atom_forge_set_buffer(&forge, buf, sizeof buf);
        LV2_Atom_Forge_Frame f;
        LV2_Atom *a = (LV2_Atom *)lv2_atom_forge_object(&forge, &f, 0, urid(LOOPMASS__Frame));
        lv2_atom_forge_key(&forge, urid(LOOPMASS__ring));
        lv2_atom_forge_vector(&forge, sizeof(float), forge.Float, (uint32_t)ring.size(), ring.data());
        lv2_atom_forge_key(&forge, urid(LOOPMASS__phases));
        lv2_atom_forge_vector(&forge, sizeof(float), forge.Float, 5, phases);
        lv2_atom_forge_key(&forge, urid(LOOPMASS__gains));
        lv2_atom_forge_vector(&forge, sizeof(float), forge.Float, 5, gains);
        lv2_atom_forge_key(&forge, urid(LOOPMASS__preset));
        lv2_atom_forge_int(&forge, 0);
        lv2_atom_forge_pop(&forge, &f);
        notify(a);
    }
    void profile(int kind, const std::vector<float> &v)
    {
        lv2_atom_forge_set_buffer(&forge, buf, sizeof buf);
        LV2_Atom_Forge_Frame f;
        LV2_Atom *a = (LV2_Atom *)lv2_atom_forge_object(&forge, &f, 0, urid(LOOPMASS__Profile));
        lv2_atom_forge_key(&forge, urid(LOOPMASS__kind));
        lv2_atom_forge_int(&forge, kind);
        lv2_atom_forge_key(&forge, urid(LOOPMASS__values));
        lv2_atom_forge_vector(&forge, sizeof(float), forge.Float, (uint32_t)v.size(), v.data());
        lv2_atom_forge_pop(&forge, &f);
        notify(a);
    }
    void draw(Image &img, int w = W, int h = H)
    {
        cairo_t *cr = cairo_create(img.s);
        view->draw(ui, cr, w, h);
        cairo_destroy(cr);
    }
    void click(const Rect &r, double u = 0.5, int clicks = 1)
    {
        const double x = r.x + u * r.w, y = r.y + r.h / 2;
        view->press(ui, x, y, clicks);
        view->release(ui, x, y);
    }
    // The messages sent since the last call.
    std::vector<Written> take()
    {
        std::vector<Written> w;
        w.swap(sent);
        return w;
    }

    void *lib = nullptr;
    const LV2UI_Descriptor *desc = nullptr;
    LV2UI_Handle ui = nullptr;
    const lv2ui::ViewInterface *view = nullptr;
    std::vector<Written> sent;
    LV2_Atom_Forge forge;
    uint8_t buf[4096];
    Layout lay;
};

std::vector<float> wave(int n, double cycles, double amp)
{
    std::vector<float> v(n);
    for (int i = 0; i < n; i++)
        v[i] = (float)(amp * std::sin(2 * M_PI * cycles * i / n));
    return v;
}

const float SILENT[5] = {0, 0, 0, 0, 0};

int watch_rate(const Written &w)
{
    const LV2_Atom *rate = nullptr;
    EXPECT_EQ(w.object()->body.otype, urid(LOOPMASS__Watch));
    lv2_atom_object_get(w.object(), urid(LOOPMASS__rate), &rate, 0);
    return rate && rate->type == urid(LV2_ATOM__Int) ? ((const LV2_Atom_Int *)rate)->body : -1;
}

TEST_F(Window, AsksForFramesWhileOpen)
{
    std::vector<Written> w = take();
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0].port, (uint32_t)PORT_MIDI_IN);
    EXPECT_EQ(w[0].format, urid(LV2_ATOM__eventTransfer));
    EXPECT_EQ(watch_rate(w[0]), lv2window::FRAMES_MAX);
    desc->cleanup(ui);
    ui = nullptr;
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(watch_rate(sent[0]), 0);
}

// The loop moves with the frames, and the colour map's newest column is
// the newest ring in the command line's colours, mass 0 at the bottom.
TEST_F(Window, RingAndItsPastFollowTheFrames)
{
    Image blank(W, H), first(W, H), second(W, H);
    draw(blank);
    const std::vector<float> a = wave(64, 1, 0.8), b = wave(64, 3, -0.5);
    frame(a, SILENT, SILENT);
    draw(first);
    EXPECT_GT(first.differ(blank, lay.ring), 500);
    frame(b, SILENT, SILENT);
    draw(second);
    EXPECT_GT(second.differ(first, lay.ring), 500);

    // Columns away from the frame's edge: the newest but one and two.
    frame(wave(64, 2, 0.3), SILENT, SILENT);
    draw(second);
    const Rect &h = lay.history;
    auto x_of = [&](int back) { return h.x + h.w * (lv2ui::HISTORY - back - 0.5) / lv2ui::HISTORY; };
    for (int i : {0, 16, 40, 63}) {
        double rgb[3];
        const double y = h.y + h.h - (i + 0.5) / 64 * h.h;
        draw::position_colour(b[i], rgb);
        EXPECT_EQ(second.at(x_of(1), y), rgb_of(rgb)) << "mass " << i;
        draw::position_colour(a[i], rgb);
        EXPECT_EQ(second.at(x_of(2), y), rgb_of(rgb)) << "mass " << i;
    }
    // Before the first frame the past holds no ring.
    EXPECT_EQ(second.at(x_of(3), h.y + h.h / 2), rgb_of(draw::GREY));
}

// On a ring at rest (a circle), each sounding oscillator's mark lies at
// its phase around the circle, clockwise from the top; a silent one has
// none.
TEST_F(Window, OscillatorMarksSitAtTheirPhases)
{
    const float phases[5] = {0, 0.25f, 0.5f, 0.75f, 0.125f};
    const float gains[5] = {0.2f, 0.2f, 0, 0.2f, 0.2f};
    frame(std::vector<float>(100, 0.0f), phases, gains);
    Image img(W, H);
    draw(img);
    for (int k = 0; k < 5; k++) {
        const double a = 2 * M_PI * phases[k];
        const double x = lay.ring_cx + lay.ring_r * std::sin(a), y = lay.ring_cy - lay.ring_r * std::cos(a);
        if (gains[k] > 0) {
            EXPECT_EQ(img.at(x, y), rgb_of(draw::MARK_COLOURS[k])) << "oscillator " << k;
        } else {
            for (int j = 0; j < 5; j++)
                EXPECT_NE(img.at(x, y), rgb_of(draw::MARK_COLOURS[j])) << "silent oscillator " << k;
        }
    }
}

// A profile is the command line's plot of the Profile atom's values.
TEST_F(Window, ProfilePlotIsTheSharedPlotOfTheAtom)
{
    const std::vector<float> v = wave(50, 2, 0.3);
    profile(4, v);
    Image img(W, H), alone(W, H);
    draw(img);
    const Rect r = lay.profiles[3];
    cairo_t *cr = cairo_create(alone.s);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_set_source_rgb(cr, 0.97, 0.97, 0.95);
    cairo_rectangle(cr, r.x, r.y, r.w, r.h);
    cairo_fill(cr);
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    draw::Canvas cv(cr);
    draw::profile_plot(cv, "damping", v.data(), (int)v.size(), r.x, r.y, r.w, r.h);
    cairo_destroy(cr);
    EXPECT_EQ(img.differ(alone, r), 0);
    // Another profile of the same kind replaces it.
    profile(4, wave(50, 1, 0.3));
    draw(img);
    EXPECT_GT(img.differ(alone, r), 50);
}

struct SetProfile {
    int kind = 0;
    std::vector<float> values;
};

SetProfile set_profile(const Written &w)
{
    SetProfile s;
    EXPECT_EQ(w.port, (uint32_t)PORT_MIDI_IN);
    EXPECT_EQ(w.object()->body.otype, urid(LV2_PATCH__Set));
    const LV2_Atom *property = nullptr, *kind = nullptr, *value = nullptr;
    lv2_atom_object_get(w.object(), urid(LV2_PATCH__property), &property, urid(LOOPMASS__kind), &kind,
                        urid(LV2_PATCH__value), &value, 0);
    EXPECT_TRUE(property && ((const LV2_Atom_URID *)property)->body == urid(LOOPMASS__profile));
    if (kind && kind->type == urid(LV2_ATOM__Int))
        s.kind = ((const LV2_Atom_Int *)kind)->body;
    if (value && value->type == urid(LV2_ATOM__Vector)) {
        const LV2_Atom_Vector_Body *body = (const LV2_Atom_Vector_Body *)LV2_ATOM_BODY_CONST(value);
        EXPECT_EQ(body->child_type, urid(LV2_ATOM__Float));
        const float *f = (const float *)(body + 1);
        s.values.assign(f, f + (value->size - sizeof *body) / sizeof(float));
    }
    return s;
}

// A drag writes the profile under it: the masses between two mouse
// positions on a straight line, the others as they were; sent at each
// idle call the drag changed it, and on release.
TEST_F(Window, DragDrawsAProfile)
{
    const int n = 40;
    const std::vector<float> before = wave(n, 1, 0.5);
    profile(2, before);
    take();
    const Rect r = lay.profiles[1];
    const draw::ProfileScale s = draw::profile_scale(before.data(), n, r.y, r.h);
    auto x_of = [&](int mass) { return r.x + (mass + 0.5) / n * r.w; };
    const double y0 = s.y_of(0.4), y1 = s.y_of(-0.4);

    view->press(ui, x_of(10), y0, 1);
    view->motion(ui, x_of(20), y1);
    const LV2UI_Idle_Interface *idle = (const LV2UI_Idle_Interface *)desc->extension_data(LV2_UI__idleInterface);
    ASSERT_TRUE(idle);
    idle->idle(ui);
    idle->idle(ui); // nothing new: nothing sent
    view->motion(ui, x_of(30), y1);
    view->release(ui, x_of(30), y1);
    std::vector<Written> w = take();
    ASSERT_EQ(w.size(), 2u);
    const SetProfile during = set_profile(w[0]), after = set_profile(w[1]);
    EXPECT_EQ(during.kind, 2);
    EXPECT_EQ(after.kind, 2);
    ASSERT_EQ(during.values.size(), (size_t)n);
    ASSERT_EQ(after.values.size(), (size_t)n);
    const double v0 = s.value_at(y0), v1 = s.value_at(y1);
    for (int i = 0; i < n; i++) {
        double expect = before[i];
        if (i >= 10 && i <= 20)
            expect = v0 + (v1 - v0) * (i - 10) / 10.0;
        EXPECT_NEAR(during.values[i], expect, 1e-6) << "mass " << i;
        if (i > 20 && i <= 30)
            expect = v1;
        EXPECT_NEAR(after.values[i], expect, 1e-6) << "mass " << i;
    }
}

// What the window's buttons and sliders write: ports, or messages.
TEST_F(Window, ButtonsAndSlidersWriteWhatTheyShow)
{
    profile(1, wave(20, 1, 0.5));
    port(PORT_PRESET, 3);
    take();
    struct Case {
        const char *what;
        Rect where;
        double u;
        int clicks;
        int port;    // a float written to a port, or -1
        float value; // its value
        LV2_URID message;
        std::vector<uint8_t> midi; // a MIDI message's bytes
    };
    const LV2_URID strike = urid(LOOPMASS__Strike), midi = urid(LV2_MIDI__MidiEvent);
    const Case cases[] = {
        {"preset 7", lay.presets[7], 0.5, 1, PORT_PRESET, 7.0f, 0, {}},
        {"preset 0", lay.presets[0], 0.5, 1, PORT_PRESET, 0.0f, 0, {}},
        {"double click on a profile", lay.profiles[0], 0.5, 2, -1, 0, midi, {LV2_MIDI_MSG_PGM_CHANGE, 0}},
        {"strike button", lay.strike, 0.5, 1, -1, 0, strike, {}},
        {"the ring", lay.ring, 0.5, 1, -1, 0, strike, {}},
        {"morph at three quarters", lay.morph, 0.75, 1, PORT_PRESET, 0.7425f, 0, {}},
        {"volume at a quarter", lay.general[1], 0.25, 1, PORT_VOLUME, 0.25f, 0, {}},
        {"masses at half, whole", lay.general[0], 0.5, 1, PORT_MASSES, 130.0f, 0, {}},
        {"strikes near the end", lay.general[2], 0.99, 1, PORT_STRIKE, 2.0f, 0, {}},
        {"forces' offset at its start", lay.profile_ports[4][2], 0.0, 1, PORT_PROFILES + 4 * 5 + 2, -1.0f, 0, {}},
        {"tension's morph at three quarters", lay.profile_ports[1][0], 0.75, 1, PORT_PROFILES + 5, 0.5f, 0, {}},
    };
    for (const Case &c : cases) {
        click(c.where, c.u, c.clicks);
        std::vector<Written> w = take();
        ASSERT_GE(w.size(), 1u) << c.what;
        const Written &last = w.back();
        if (c.port >= 0) {
            EXPECT_EQ(last.port, (uint32_t)c.port) << c.what;
            EXPECT_EQ(last.format, 0u) << c.what;
            EXPECT_NEAR(last.value(), c.value, 1e-5) << c.what;
            for (const Written &e : w)
                EXPECT_EQ(e.port, (uint32_t)c.port) << c.what;
        } else {
            ASSERT_EQ(w.size(), 1u) << c.what;
            EXPECT_EQ(last.format, urid(LV2_ATOM__eventTransfer)) << c.what;
            EXPECT_EQ(last.atom()->type == urid(LV2_ATOM__Object) ? last.object()->body.otype : last.atom()->type,
                      c.message)
                << c.what;
            if (!c.midi.empty()) {
                const uint8_t *body = (const uint8_t *)LV2_ATOM_BODY_CONST(last.atom());
                EXPECT_EQ(std::vector<uint8_t>(body, body + last.atom()->size), c.midi) << c.what;
            }
        }
    }
    // A morphed preset is recalled with its morph, as the mod wheel gives it.
    port(PORT_PRESET, 4.75f);
    click(lay.profiles[0], 0.5, 2);
    std::vector<Written> w = take();
    ASSERT_EQ(w.size(), 2u);
    const std::vector<std::vector<uint8_t>> expect = {{LV2_MIDI_MSG_PGM_CHANGE, 4}, {LV2_MIDI_MSG_CONTROLLER, 1, 96}};
    for (int i = 0; i < 2; i++) {
        ASSERT_EQ(w[i].atom()->type, midi);
        const uint8_t *body = (const uint8_t *)LV2_ATOM_BODY_CONST(w[i].atom());
        EXPECT_EQ(std::vector<uint8_t>(body, body + w[i].atom()->size), expect[i]);
    }
}

// The host's values show on the sliders: a port moved by automation fills
// its slider to the value.
TEST_F(Window, SlidersFollowTheHost)
{
    const Rect &r = lay.general[1]; // volume
    Image low(W, H), high(W, H);
    port(PORT_VOLUME, 0.1f);
    draw(low);
    port(PORT_VOLUME, 0.9f);
    draw(high);
    const double y = r.y + 2;
    EXPECT_EQ(low.at(r.x + 0.5 * r.w, y), high.at(r.x + 0.95 * r.w, y));
    EXPECT_NE(low.at(r.x + 0.5 * r.w, y), high.at(r.x + 0.5 * r.w, y));
}

// At the default size and at half of it, no two parts of the window
// overlap and every part lies inside it.
TEST(WindowLayout, PartsApartAtEverySize)
{
    for (double f : {0.5, 0.75, 1.0, 1.6}) {
        const int w = (int)(W * f), h = (int)(H * f);
        const Layout l = lv2ui::layout(w, h);
        std::vector<Rect> parts(l.presets, l.presets + lv2ui::NPRESETS);
        parts.insert(parts.end(), {l.morph, l.strike, l.ring, l.history});
        parts.insert(parts.end(), l.general, l.general + lv2ui::NGENERAL);
        parts.insert(parts.end(), l.profiles, l.profiles + loopmass::NKINDS);
        for (int k = 0; k < loopmass::NKINDS; k++)
            parts.insert(parts.end(), l.profile_ports[k], l.profile_ports[k] + lv2ui::NPROFILE_PORTS);
        for (size_t i = 0; i < parts.size(); i++) {
            const Rect &a = parts[i];
            EXPECT_TRUE(a.x >= 0 && a.y >= 0 && a.x + a.w <= w && a.y + a.h <= h && a.w > 8 && a.h > 8)
                << "part " << i << " at size " << f;
            for (size_t j = i + 1; j < parts.size(); j++) {
                const Rect &b = parts[j];
                EXPECT_FALSE(a.x < b.x + b.w && b.x < a.x + a.w && a.y < b.y + b.h && b.y < a.y + a.h)
                    << "parts " << i << " and " << j << " at size " << f;
            }
        }
    }
}

// Cairo's font caches and fontconfig's, which the window's text fills and
// a host keeps for its life, are dropped when the tests end, so that a
// leak checker sees the process release what it took.
class DropFontCaches : public ::testing::Environment {
public:
    void TearDown() override
    {
        cairo_debug_reset_static_data();
        FcFini();
    }
};

const ::testing::Environment *const drop_font_caches = ::testing::AddGlobalTestEnvironment(new DropFontCaches);

} // namespace
