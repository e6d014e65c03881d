// The plugin's entry points: instantiate, connect, activate, run, cleanup
// and the descriptor (plugin.h says where the rest lives).

#include <algorithm>
#include <cstdint>
#include <cstring>

#include <lv2/atom/util.h>
#include <lv2/core/lv2_util.h>
#include <lv2/log/log.h>
#include <lv2/midi/midi.h>
#include <lv2/patch/patch.h>
#include <lv2/time/time.h>

#include "plugin.h"
#include "window.h"

namespace lv2plugin {

static void log_line(void *owner, bool is_error, const char *text)
{
    Plugin *p = (Plugin *)owner;
    if (is_error)
        lv2_log_error(&p->logger, "%s\n", text);
    else
        lv2_log_note(&p->logger, "%s\n", text);
}

lv2host::Console console_of(Plugin *p)
{
    return lv2host::Console{log_line, p};
}

static uint32_t frame_of(const LV2_Atom_Event *ev, uint32_t pos, uint32_t n)
{
    return (uint32_t)std::min<int64_t>(std::max<int64_t>(ev->time.frames, pos), n);
}

static void run(LV2_Handle h, uint32_t n)
{
    Plugin *p = (Plugin *)h;
    if (p->ports[PORT_LATENCY])
        *(float *)p->ports[PORT_LATENCY] = LATENCY;
    begin_notify(p);
    install(p);
    release(p);
    if (ask_load(p))
        p->worker.load_waiting = false;
    read_controls(p);
    play_drawn(p);

    float *out = (float *)p->ports[PORT_OUT];
    uint32_t pos = 0;
    bool timeline_read = false;
    const LV2_Atom_Sequence *seq = (const LV2_Atom_Sequence *)p->ports[PORT_MIDI_IN];
    if (seq) {
        LV2_ATOM_SEQUENCE_FOREACH (seq, ev) {
            uint32_t at = frame_of(ev, pos, n);
            if (at != pos || !timeline_read) {
                advance(p, out, pos, at);
                pos = at;
                // The timeline first, so that the other events of this
                // frame fall in the vector that starts there.
                for (const LV2_Atom_Event *e = ev;
                     !lv2_atom_sequence_is_end(&seq->body, seq->atom.size, e) && frame_of(e, pos, n) == at;
                     e = lv2_atom_sequence_next(e))
                    if (is_position(p, &e->body))
                        position(p, (const LV2_Atom_Object *)&e->body);
                timeline_read = true;
            }
            if (ev->body.type == p->uri.midi_event)
                midi(p, (const uint8_t *)LV2_ATOM_BODY_CONST(&ev->body), ev->body.size);
            else if (lv2_atom_forge_is_object_type(&p->forge, ev->body.type) && !is_position(p, &ev->body))
                message(p, (const LV2_Atom_Object *)&ev->body);
        }
    }
    advance(p, out, pos, n);
    feed_window(p, n);
    end_notify(p);
#if LOOPMASS_INLINE_DISPLAY
    lv2display::display_run(&p->display, p->object ? (const loopmass::t_loopmass *)p->object->x : nullptr, n);
#endif
}

static void connect_port(LV2_Handle h, uint32_t port, void *data)
{
    if (port < NPORTS)
        ((Plugin *)h)->ports[port] = data;
}

// The URIs the plugin reads and writes, as the host numbers them.
static void map_uris(Uris *uri, LV2_URID_Map *map)
{
    Uris &u = *uri;
    u.midi_event = map->map(map->handle, LV2_MIDI__MidiEvent);
    u.atom_path = map->map(map->handle, LV2_ATOM__Path);
    u.atom_string = map->map(map->handle, LV2_ATOM__String);
    u.atom_int = map->map(map->handle, LV2_ATOM__Int);
    u.patch_set = map->map(map->handle, LV2_PATCH__Set);
    u.patch_get = map->map(map->handle, LV2_PATCH__Get);
    u.patch_property = map->map(map->handle, LV2_PATCH__property);
    u.patch_value = map->map(map->handle, LV2_PATCH__value);
    u.bank = map->map(map->handle, LOOPMASS_URI "#bank");
    u.bank_text = map->map(map->handle, LOOPMASS_URI "#bankText");
    u.masses = map->map(map->handle, LOOPMASS_URI "#masses");
    u.atom_long = map->map(map->handle, LV2_ATOM__Long);
    u.atom_float = map->map(map->handle, LV2_ATOM__Float);
    u.atom_double = map->map(map->handle, LV2_ATOM__Double);
    u.time_position = map->map(map->handle, LV2_TIME__Position);
    u.time_frame = map->map(map->handle, LV2_TIME__frame);
    u.time_speed = map->map(map->handle, LV2_TIME__speed);
    u.atom_vector = map->map(map->handle, LV2_ATOM__Vector);
    u.watch = map->map(map->handle, LOOPMASS__Watch);
    u.frame = map->map(map->handle, LOOPMASS__Frame);
    u.profile_object = map->map(map->handle, LOOPMASS__Profile);
    u.strike = map->map(map->handle, LOOPMASS__Strike);
    u.rate = map->map(map->handle, LOOPMASS__rate);
    u.ring = map->map(map->handle, LOOPMASS__ring);
    u.phases = map->map(map->handle, LOOPMASS__phases);
    u.gains = map->map(map->handle, LOOPMASS__gains);
    u.preset = map->map(map->handle, LOOPMASS__preset);
    u.profile = map->map(map->handle, LOOPMASS__profile);
    u.kind = map->map(map->handle, LOOPMASS__kind);
    u.values = map->map(map->handle, LOOPMASS__values);
    // The drawn profiles a session keeps, one key per kind.
    const char *drawn[NKINDS] = {LOOPMASS_URI "#drawnMasses",    LOOPMASS_URI "#drawnTension",
                                 LOOPMASS_URI "#drawnCentering", LOOPMASS_URI "#drawnDamping",
                                 LOOPMASS_URI "#drawnForces",    LOOPMASS_URI "#drawnInitpos"};
    for (int k = 0; k < NKINDS; k++)
        u.drawn[k] = map->map(map->handle, drawn[k]);
}

static LV2_Handle instantiate(const LV2_Descriptor *, double rate, const char *, const LV2_Feature *const *features)
{
    LV2_URID_Map *map = nullptr;
    LV2_Worker_Schedule *schedule = nullptr;
    LV2_Log_Log *log = nullptr;
    lv2_features_query(features, LV2_URID__map, &map, true, LV2_WORKER__schedule, &schedule, true, LV2_LOG__log, &log,
                       false, NULL);
    if (!map || !schedule || !(rate > 0))
        return nullptr;

    Plugin *p = new Plugin();
    p->map = map;
    p->schedule = schedule;
    p->rate = rate;
#if LOOPMASS_INLINE_DISPLAY
    lv2display::display_init(&p->display, features, rate);
#endif
    lv2_log_logger_init(&p->logger, map, log);
    p->object_class = lv2host::load(console_of(p));
    if (!p->object_class) {
        lv2_log_error(&p->logger, "loopmass: the object's class cannot be played\n");
        delete p;
        return nullptr;
    }
    lv2_atom_forge_init(&p->forge, map);
    map_uris(&p->uri, map);

    Object *o = build(p, (int)MASSES.fresh, std::string(), nullptr, nullptr);
    if (!o) {
        delete p;
        return nullptr;
    }
    p->controls.choice = Choice{false, PRESET.fresh};
    p->controls.volume = VOLUME.fresh;
    p->controls.bend_range = BEND_RANGE.fresh;
    lv2keys::keys_clear(&p->keys);
    p->kept.masses = (int)MASSES.fresh;
    start(p, o, (int)MASSES.fresh);
    return p;
}

static void activate(LV2_Handle h)
{
    Plugin *p = (Plugin *)h;
    build_masses(p);
    grid_start(p);
    // Notes held when the host stopped are gone.
    lv2keys::keys_clear(&p->keys);
    play_notes(p, false);
}

static void deactivate(LV2_Handle) {}

static void cleanup(LV2_Handle h)
{
    Plugin *p = (Plugin *)h;
    free_objects(p);
#if LOOPMASS_INLINE_DISPLAY
    lv2display::display_free(&p->display);
#endif
    delete p;
}

#if LOOPMASS_INLINE_DISPLAY
static LV2_Inline_Display_Image_Surface *render(LV2_Handle h, uint32_t w, uint32_t max_h)
{
    return lv2display::display_render(&((Plugin *)h)->display, w, max_h);
}
#endif

static const void *extension_data(const char *uri)
{
    static const LV2_Worker_Interface worker = {work, work_response, nullptr};
    static const LV2_State_Interface state = {save, restore};
#if LOOPMASS_INLINE_DISPLAY
    static const LV2_Inline_Display_Interface inline_display = {render};
    if (std::strcmp(uri, LV2_INLINEDISPLAY__interface) == 0)
        return &inline_display;
#endif
    if (std::strcmp(uri, LV2_WORKER__interface) == 0)
        return &worker;
    if (std::strcmp(uri, LV2_STATE__interface) == 0)
        return &state;
    return nullptr;
}

static const LV2_Descriptor descriptor = {LOOPMASS_URI, instantiate, connect_port, activate,
                                          run,          deactivate,  cleanup,      extension_data};

} // namespace lv2plugin

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor *lv2_descriptor(uint32_t index)
{
    return index == 0 ? &lv2plugin::descriptor : nullptr;
}
