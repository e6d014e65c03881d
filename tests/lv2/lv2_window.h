// Test support for the plugin's window messages: the atoms a window sends
// (window.h), what the notify port told it, and the command line's print
// lines to compare them with.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/patch/patch.h>

#include "lv2_support.h"
#include "window.h"

namespace lv2window_test {

using rack::Event;

inline LV2_URID urid(const char *uri)
{
    return rack::map()->map(rack::map()->handle, uri);
}

// An atom built by the forge into a buffer of its own.
class Built {
public:
    Built() : buffer_(64 * 1024) { lv2_atom_forge_init(&forge, rack::map()); }
    LV2_Atom_Forge forge;
    LV2_Atom_Forge *begin()
    {
        lv2_atom_forge_set_buffer(&forge, buffer_.data(), buffer_.size());
        return &forge;
    }
    std::vector<uint8_t> bytes() const
    {
        const LV2_Atom *a = (const LV2_Atom *)buffer_.data();
        return std::vector<uint8_t>(buffer_.begin(), buffer_.begin() + sizeof(LV2_Atom) + a->size);
    }

private:
    std::vector<uint8_t> buffer_;
};

inline Event watch(uint64_t t, int rate)
{
    Built b;
    LV2_Atom_Forge *f = b.begin();
    LV2_Atom_Forge_Frame frame;
    lv2_atom_forge_object(f, &frame, 0, urid(LOOPMASS__Watch));
    lv2_atom_forge_key(f, urid(LOOPMASS__rate));
    lv2_atom_forge_int(f, rate);
    lv2_atom_forge_pop(f, &frame);
    return rack::message(t, b.bytes());
}

inline Event strike(uint64_t t)
{
    Built b;
    LV2_Atom_Forge_Frame frame;
    lv2_atom_forge_object(b.begin(), &frame, 0, urid(LOOPMASS__Strike));
    lv2_atom_forge_pop(&b.forge, &frame);
    return rack::message(t, b.bytes());
}

// patch:Set of `profile`; write_kind and write_value forge the kind and the
// value, so that a test may send them wrong.
inline Event set_profile(uint64_t t, const std::function<void(LV2_Atom_Forge *)> &write_kind,
                         const std::function<void(LV2_Atom_Forge *)> &write_value)
{
    Built b;
    LV2_Atom_Forge *f = b.begin();
    LV2_Atom_Forge_Frame frame;
    lv2_atom_forge_object(f, &frame, 0, urid(LV2_PATCH__Set));
    lv2_atom_forge_key(f, urid(LV2_PATCH__property));
    lv2_atom_forge_urid(f, urid(LOOPMASS__profile));
    if (write_kind) {
        lv2_atom_forge_key(f, urid(LOOPMASS__kind));
        write_kind(f);
    }
    if (write_value) {
        lv2_atom_forge_key(f, urid(LV2_PATCH__value));
        write_value(f);
    }
    lv2_atom_forge_pop(f, &frame);
    return rack::message(t, b.bytes());
}

inline Event draw(uint64_t t, int kind, const std::vector<float> &values)
{
    return set_profile(
        t, [kind](LV2_Atom_Forge *f) { lv2_atom_forge_int(f, kind); },
        [values](LV2_Atom_Forge *f) {
            lv2_atom_forge_vector(f, sizeof(float), f->Float, (uint32_t)values.size(), values.data());
        });
}

// The score line of the same list on that profile's inlet.
inline std::string list_line(int kind, const std::vector<float> &values)
{
    std::string s = std::to_string(kind) + " list";
    for (float v : values)
        s += " " + lv2test::num(v);
    return s;
}

// A shape to draw: n values from 0 to 1 and back, shifted.
inline std::vector<float> hump(int n, float shift)
{
    std::vector<float> v(n);
    for (int i = 0; i < n; i++)
        v[i] = (float)(0.5 - 0.5 * std::cos(2 * M_PI * i / n)) * 0.8f + shift;
    return v;
}

// What the notify port told a window.
struct Frame {
    uint64_t time;
    std::vector<float> ring, phases, gains;
    int preset;
};
struct Profile {
    uint64_t time;
    int kind;
    std::vector<float> values;
};

inline std::vector<float> floats(const LV2_Atom *a)
{
    if (!a || a->type != urid(LV2_ATOM__Vector))
        return {};
    const LV2_Atom_Vector *v = (const LV2_Atom_Vector *)a;
    if (v->body.child_type != urid(LV2_ATOM__Float))
        return {};
    const float *f = (const float *)(v + 1);
    return std::vector<float>(f, f + (a->size - sizeof(LV2_Atom_Vector_Body)) / sizeof(float));
}

inline int integer(const LV2_Atom *a)
{
    return a && a->type == urid(LV2_ATOM__Int) ? ((const LV2_Atom_Int *)a)->body : -1;
}

inline const LV2_Atom_Object *object_of(const rack::Note &n, const char *otype)
{
    const LV2_Atom *a = (const LV2_Atom *)n.atom.data();
    if (a->type != urid(LV2_ATOM__Object))
        return nullptr;
    const LV2_Atom_Object *o = (const LV2_Atom_Object *)a;
    return o->body.otype == urid(otype) ? o : nullptr;
}

inline std::vector<Frame> frames(const rack::Player &p)
{
    std::vector<Frame> out;
    for (const rack::Note &n : p.notes()) {
        const LV2_Atom_Object *o = object_of(n, LOOPMASS__Frame);
        if (!o)
            continue;
        const LV2_Atom *ring = nullptr, *phases = nullptr, *gains = nullptr, *preset = nullptr;
        lv2_atom_object_get(o, urid(LOOPMASS__ring), &ring, urid(LOOPMASS__phases), &phases, urid(LOOPMASS__gains),
                            &gains, urid(LOOPMASS__preset), &preset, 0);
        out.push_back(Frame{n.time, floats(ring), floats(phases), floats(gains), integer(preset)});
    }
    return out;
}

inline std::vector<Profile> profiles(const rack::Player &p)
{
    std::vector<Profile> out;
    for (const rack::Note &n : p.notes()) {
        const LV2_Atom_Object *o = object_of(n, LOOPMASS__Profile);
        if (!o)
            continue;
        const LV2_Atom *kind = nullptr, *values = nullptr;
        lv2_atom_object_get(o, urid(LOOPMASS__kind), &kind, urid(LOOPMASS__values), &values, 0);
        out.push_back(Profile{n.time, integer(kind), floats(values)});
    }
    return out;
}

// The command line's transcript of a score.
inline std::string transcript(const std::string &score, const std::string &name)
{
    std::string stem = testing::TempDir() + "lv2_" + std::to_string(getpid()) + "_" + name;
    std::string path = stem + ".score", out = stem + ".txt";
    std::ofstream(path) << score;
    std::string command = std::string(LOOPMASS_BINARY) + " run '" + path + "' > '" + out + "'";
    if (std::system(command.c_str()) != 0)
        return "";
    std::ifstream in(out);
    std::stringstream text;
    text << in.rdbuf();
    std::remove(path.c_str());
    std::remove(out.c_str());
    return text.str();
}

// The values of the print lines of a transcript that begin with `what`, in
// order: "pos", "prof 3", "phase".
inline std::vector<std::vector<float>> printed(const std::string &transcript, const std::string &what)
{
    std::vector<std::vector<float>> out;
    std::istringstream lines(transcript);
    std::string line, head = "\tprint\t" + what + " ";
    while (std::getline(lines, line)) {
        size_t at = line.find(head);
        if (at == std::string::npos)
            continue;
        std::istringstream values(line.substr(at + head.size()));
        std::vector<float> v;
        std::string word;
        while (values >> word)
            v.push_back(std::strtof(word.c_str(), nullptr));
        out.push_back(v);
    }
    return out;
}

// Equal to the bit, NaN included.
inline bool same_bits(const std::vector<float> &a, const std::vector<float> &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); i++)
        if (lv2test::bits(a[i]) != lv2test::bits(b[i]))
            return false;
    return true;
}

} // namespace lv2window_test
