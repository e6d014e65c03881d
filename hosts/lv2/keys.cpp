#include "keys.h"

#include <cmath>

#include "../../src/object/loopmass.h"

namespace lv2keys {

static bool holding(const Voice &v)
{
    return v.state == HELD || v.state == SUSTAINED;
}

static int keys_find(const Keys *k, int note)
{
    for (int i = 0; i < MAXNOTES; i++)
        if (k->voice[i].state != FREE && k->voice[i].note == note)
            return i;
    return -1;
}

// The oldest held note (by its key or the pedal), or -1.
static int keys_oldest_held(const Keys *k)
{
    int found = -1;
    for (int i = 0; i < MAXNOTES; i++)
        if (holding(k->voice[i]) && (found < 0 || k->voice[i].age < k->voice[found].age))
            found = i;
    return found;
}

// The fading note nearest the end of its fade, the oldest among equals; -1
// when none fades.
static int keys_most_faded(const Keys *k)
{
    int found = -1;
    for (int i = 0; i < MAXNOTES; i++) {
        const Voice &v = k->voice[i];
        if (v.state != FADING)
            continue;
        if (found < 0 || v.until < k->voice[found].until ||
            (v.until == k->voice[found].until && v.age < k->voice[found].age))
            found = i;
    }
    return found;
}

static int keys_take(const Keys *k, int note)
{
    int i = keys_find(k, note);
    for (int j = 0; i < 0 && j < MAXNOTES; j++)
        if (k->voice[j].state == FREE)
            i = j;
    if (i < 0)
        i = keys_most_faded(k);
    if (i < 0)
        i = keys_oldest_held(k);
    return i;
}

static void keys_fade(Keys *k, int i, uint64_t fade)
{
    k->voice[i].state = FADING;
    k->voice[i].until = k->now + fade;
}

void keys_clear(Keys *k)
{
    for (int i = 0; i < MAXNOTES; i++) {
        k->voice[i].state = FREE;
        k->voice[i].pitch = 0;
    }
    k->pedal = false;
    k->bend = 8192;
    k->ages = 0;
    k->now = 0;
}

void keys_time(Keys *k, uint64_t start)
{
    k->now = start;
    for (int i = 0; i < MAXNOTES; i++)
        if (k->voice[i].state == FADING && k->voice[i].until <= start)
            k->voice[i].state = FREE;
}

bool keys_holding(const Keys *k)
{
    for (int i = 0; i < MAXNOTES; i++)
        if (holding(k->voice[i]))
            return true;
    return false;
}

bool keys_sounding(const Keys *k)
{
    for (int i = 0; i < MAXNOTES; i++)
        if (k->voice[i].state != FREE)
            return true;
    return false;
}

void keys_forget(Keys *k)
{
    for (int i = 0; i < MAXNOTES; i++)
        if (k->voice[i].state == FREE)
            k->voice[i].pitch = 0;
}

bool keys_press(Keys *k, int note, int velocity)
{
    int i = keys_take(k, note);
    Voice &v = k->voice[i];
    v.state = FREE;
    bool others = keys_holding(k);
    v.state = HELD;
    v.note = (uint8_t)note;
    v.velocity = (uint8_t)velocity;
    v.age = k->ages++;
    return others;
}

bool keys_release(Keys *k, int note, uint64_t fade)
{
    int i = keys_find(k, note);
    if (i < 0 || k->voice[i].state != HELD)
        return false;
    if (k->pedal) {
        k->voice[i].state = SUSTAINED;
        return false;
    }
    keys_fade(k, i, fade);
    return true;
}

bool keys_pedal(Keys *k, bool down, uint64_t fade)
{
    k->pedal = down;
    if (down)
        return false;
    bool changed = false;
    for (int i = 0; i < MAXNOTES; i++)
        if (k->voice[i].state == SUSTAINED) {
            keys_fade(k, i, fade);
            changed = true;
        }
    return changed;
}

void keys_release_all(Keys *k, uint64_t fade)
{
    for (int i = 0; i < MAXNOTES; i++)
        if (holding(k->voice[i]))
            keys_fade(k, i, fade);
}

void keys_pairs(Keys *k, double bend_range, double scale, double rate, float *pitch, float *gain)
{
    double bend = (k->bend - 8192) / 8192.0 * bend_range;
    for (int i = 0; i < MAXNOTES; i++) {
        Voice &v = k->voice[i];
        // The object takes its pitches at its own rate: scaled, they sound
        // right at the plugin host's rate.
        if (v.state != FREE)
            v.pitch = (float)(440.0 * std::pow(2.0, (v.note - 69 + bend) / 12.0) * loopmass::SAMPLE_RATE / rate);
        pitch[i] = v.pitch;
        gain[i] = holding(v) ? (float)(v.velocity / 127.0 * scale) : 0.0f;
    }
}

} // namespace lv2keys
