#include "display.h"

#include <cairo.h>

#include <algorithm>
#include <cstring>

#include "../../../src/object/view.h"
#include "../window.h"
#include "canvas.h"
#include "loop.h"

namespace lv2display {

const int FRESH = 4;

void display_init(Display *d, const LV2_Feature *const *features, double rate)
{
    d->host = nullptr;
    for (int i = 0; features && features[i]; i++)
        if (!std::strcmp(features[i]->URI, LV2_INLINEDISPLAY__queue_draw))
            d->host = (const LV2_Inline_Display *)features[i]->data;
    for (Snapshot &s : d->shots)
        s.n = 0;
    d->back = 0;
    d->newest.store(1);
    d->front = 2;
    d->samples = d->due = 0;
    d->every = rate / lv2window::FRAMES_MAX;
    d->surface = nullptr;
    d->image = LV2_Inline_Display_Image_Surface{nullptr, 0, 0, 0};
}

void display_run(Display *d, const loopmass::t_loopmass *x, uint32_t n)
{
    d->samples += n;
    if (!d->host || !x || d->samples < d->due)
        return;
    d->due = d->samples + (uint64_t)d->every;
    Snapshot &s = d->shots[d->back];
    const loopmass::t_floats ring = loopmass::loopmass_view_ring(x);
    s.n = std::min(ring.n, loopmass::MAXMASSES);
    std::copy(ring.begin(), ring.begin() + s.n, s.ring);
    const loopmass::t_floats phases = loopmass::loopmass_view_phases(x);
    for (int k = 0; k < loopmass::NOSC; k++) {
        s.phases[k] = phases[k];
        s.gains[k] = loopmass::loopmass_view_gain_now(x, k);
    }
    d->back = d->newest.exchange(d->back | FRESH) & ~FRESH;
    d->host->queue_draw(d->host->handle);
}

void display_free(Display *d)
{
    if (d->surface)
        cairo_surface_destroy((cairo_surface_t *)d->surface);
    d->surface = nullptr;
}

// A square as wide as the host allows, at most as high.
LV2_Inline_Display_Image_Surface *display_render(Display *d, uint32_t w, uint32_t h)
{
    if (d->newest.load() & FRESH)
        d->front = d->newest.exchange(d->front) & ~FRESH;
    const Snapshot &s = d->shots[d->front];
    const int side_w = (int)std::max(w, 1u), side_h = (int)std::max(std::min(h, w), 1u);
    cairo_surface_t *img = (cairo_surface_t *)d->surface;
    if (!img || cairo_image_surface_get_width(img) != side_w || cairo_image_surface_get_height(img) != side_h) {
        display_free(d);
        img = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, side_w, side_h);
        d->surface = img;
    }
    cairo_t *cr = cairo_create(img);
    cairo_set_source_rgb(cr, 0.97, 0.97, 0.95);
    cairo_paint(cr);
    draw::Canvas cv(cr);
    const double side = std::min(side_w, side_h);
    const draw::Loop loop = {side_w / 2.0, side_h / 2.0, 0.3 * side, 0.15 * side};
    draw::draw_loop(cv, loop, s.ring, s.n, s.phases, s.gains, 1, std::max(2.0, side / 40));
    cairo_destroy(cr);
    cairo_surface_flush(img);
    d->image = LV2_Inline_Display_Image_Surface{cairo_image_surface_get_data(img), side_w, side_h,
                                                cairo_image_surface_get_stride(img)};
    return &d->image;
}

} // namespace lv2display
