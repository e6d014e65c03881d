#include "keys.h"

#include <cmath>

#include "../../src/object/loopmass.h"

namespace lv2keys {

static void keys_remove(Keys *k, int i)
{
    for (int j = i + 1; j < k->count; j++) {
        k->note[j - 1] = k->note[j];
        k->velocity[j - 1] = k->velocity[j];
        k->released[j - 1] = k->released[j];
    }
    k->count--;
}

static int keys_find(const Keys *k, int note)
{
    for (int i = 0; i < k->count; i++)
        if (k->note[i] == note)
            return i;
    return -1;
}

void keys_clear(Keys *k)
{
    k->count = 0;
    k->pedal = false;
    k->bend = 8192;
}

bool keys_press(Keys *k, int note, int velocity)
{
    int i = keys_find(k, note);
    if (i >= 0)
        keys_remove(k, i);
    bool others = k->count > 0;
    if (k->count == MAXNOTES)
        keys_remove(k, 0);
    k->note[k->count] = (uint8_t)note;
    k->velocity[k->count] = (uint8_t)velocity;
    k->released[k->count] = false;
    k->count++;
    return others;
}

bool keys_release(Keys *k, int note)
{
    int i = keys_find(k, note);
    if (i < 0)
        return false;
    if (k->pedal) {
        k->released[i] = true;
        return false;
    }
    keys_remove(k, i);
    return true;
}

bool keys_pedal(Keys *k, bool down)
{
    k->pedal = down;
    if (down)
        return false;
    bool changed = false;
    for (int i = k->count - 1; i >= 0; i--)
        if (k->released[i]) {
            keys_remove(k, i);
            changed = true;
        }
    return changed;
}

void keys_release_all(Keys *k) { k->count = 0; }

int keys_pairs(const Keys *k, double bend_range, double volume, double rate, float *pitch, float *gain)
{
    double bend = (k->bend - 8192) / 8192.0 * bend_range;
    for (int i = 0; i < k->count; i++) {
        // The object takes its pitches at its own rate: scaled, they sound
        // right at the plugin host's rate.
        pitch[i] = (float)(440.0 * std::pow(2.0, (k->note[i] - 69 + bend) / 12.0) * loopmass::SAMPLE_RATE / rate);
        gain[i] = (float)(k->velocity[i] / 127.0 * volume);
    }
    return k->count;
}

} // namespace lv2keys
