// The window as an LV2 X11 UI: an Xlib child of the host's window, drawn
// with Cairo, its events read in the host's idle calls.  Without a parent
// window (a test) it opens no display, and draws only through the view
// interface.

#include <sys/time.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <lv2/core/lv2.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include "ui.h"

// Xlib's macros (Bool, Status) come after the LV2 headers, which use the
// same words.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cairo-xlib.h>

#define LOOPMASS_UI_URI "urn:loopmass:lv2#ui"

namespace lv2ui {

// Two presses closer than this, and near each other, are a double click.
const double DOUBLE_CLICK_S = 0.4;
const int DOUBLE_CLICK_PX = 4;

struct Window {
    Ui ui;
    Display *display = nullptr;
    ::Window window = 0;
    cairo_surface_t *surface = nullptr;
    double last_draw = 0;
    double last_press = -1;
    int press_x = 0, press_y = 0;

    Window(LV2_URID_Map *map, LV2UI_Write_Function write, LV2UI_Controller controller) : ui(map, write, controller) {}
};

static double now()
{
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return tv.tv_sec + tv.tv_usec * 1e-6;
}

// Draws into a group first, so that the window never shows half a frame.
static void expose(Window *w)
{
    if (!w->surface)
        return;
    cairo_t *cr = cairo_create(w->surface);
    cairo_push_group(cr);
    w->ui.draw(cr);
    cairo_pop_group_to_source(cr);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(w->surface);
    XFlush(w->display);
    w->last_draw = now();
}

static void resized(Window *w, int width, int height)
{
    w->ui.resize(width, height);
    if (w->surface)
        cairo_xlib_surface_set_size(w->surface, width, height);
}

static void press(Window *w, const XButtonEvent &e)
{
    if (e.button != Button1)
        return;
    const double t = now();
    const bool twice = t - w->last_press < DOUBLE_CLICK_S && std::abs(e.x - w->press_x) <= DOUBLE_CLICK_PX &&
                       std::abs(e.y - w->press_y) <= DOUBLE_CLICK_PX;
    w->last_press = twice ? -1 : t;
    w->press_x = e.x;
    w->press_y = e.y;
    w->ui.press(e.x, e.y, twice ? 2 : 1);
}

static void handle(Window *w, XEvent &e)
{
    switch (e.type) {
    case Expose:
        w->ui.dirty = true;
        break;
    case ConfigureNotify:
        resized(w, e.xconfigure.width, e.xconfigure.height);
        break;
    case ButtonPress:
        press(w, e.xbutton);
        break;
    case MotionNotify:
        // Only the newest position of a run of motions counts.
        while (XCheckTypedWindowEvent(w->display, w->window, MotionNotify, &e)) {
        }
        w->ui.motion(e.xmotion.x, e.xmotion.y);
        break;
    case ButtonRelease:
        if (e.xbutton.button == Button1)
            w->ui.release(e.xbutton.x, e.xbutton.y);
        break;
    }
}

static bool open_window(Window *w, ::Window parent)
{
    w->display = XOpenDisplay(nullptr);
    if (!w->display)
        return false;
    Display *d = w->display;
    const int screen = DefaultScreen(d);
    w->window = XCreateSimpleWindow(d, parent, 0, 0, DEFAULT_WIDTH, DEFAULT_HEIGHT, 0, BlackPixel(d, screen),
                                    WhitePixel(d, screen));
    XSelectInput(d, w->window,
                 ExposureMask | StructureNotifyMask | ButtonPressMask | ButtonReleaseMask | Button1MotionMask);
    XSizeHints hints = {};
    hints.flags = PMinSize | PBaseSize;
    hints.min_width = DEFAULT_WIDTH / 2;
    hints.min_height = DEFAULT_HEIGHT / 2;
    hints.base_width = DEFAULT_WIDTH;
    hints.base_height = DEFAULT_HEIGHT;
    XSetWMNormalHints(d, w->window, &hints);
    // A name the host's window does not have, for tools that look for it.
    XStoreName(d, w->window, "loopmass ring");
    w->surface = cairo_xlib_surface_create(d, w->window, DefaultVisual(d, screen), DEFAULT_WIDTH, DEFAULT_HEIGHT);
    XMapRaised(d, w->window);
    XFlush(d);
    return true;
}

static LV2UI_Handle instantiate(const LV2UI_Descriptor *, const char *, const char *, LV2UI_Write_Function write,
                                LV2UI_Controller controller, LV2UI_Widget *widget, const LV2_Feature *const *features)
{
    LV2_URID_Map *map = nullptr;
    void *parent = nullptr;
    LV2UI_Resize *resize = nullptr;
    for (int i = 0; features && features[i]; i++) {
        if (!std::strcmp(features[i]->URI, LV2_URID__map))
            map = (LV2_URID_Map *)features[i]->data;
        else if (!std::strcmp(features[i]->URI, LV2_UI__parent))
            parent = features[i]->data;
        else if (!std::strcmp(features[i]->URI, LV2_UI__resize))
            resize = (LV2UI_Resize *)features[i]->data;
    }
    if (!map)
        return nullptr;
    Window *w = new Window(map, write, controller);
    *widget = nullptr;
    if (parent) {
        if (!open_window(w, (::Window)(uintptr_t)parent)) {
            delete w;
            return nullptr;
        }
        *widget = (LV2UI_Widget)(uintptr_t)w->window;
        if (resize)
            resize->ui_resize(resize->handle, DEFAULT_WIDTH, DEFAULT_HEIGHT);
    }
    w->ui.watch(true);
    return w;
}

static void cleanup(LV2UI_Handle h)
{
    Window *w = (Window *)h;
    w->ui.watch(false);
    if (w->surface)
        cairo_surface_destroy(w->surface);
    if (w->display) {
        XDestroyWindow(w->display, w->window);
        XCloseDisplay(w->display);
    }
    delete w;
}

static void port_event(LV2UI_Handle h, uint32_t port, uint32_t size, uint32_t format, const void *buffer)
{
    ((Window *)h)->ui.port_event(port, size, format, buffer);
}

// The host's idle call: events, what a drag changed, and a new picture
// at most FRAMES_MAX times a second.
static int idle(LV2UI_Handle h)
{
    Window *w = (Window *)h;
    while (w->display && XPending(w->display)) {
        XEvent e;
        XNextEvent(w->display, &e);
        handle(w, e);
    }
    w->ui.idle();
    if (w->ui.dirty && now() - w->last_draw >= 1.0 / lv2window::FRAMES_MAX)
        expose(w);
    return 0;
}

static int ui_resize(LV2UI_Feature_Handle h, int width, int height)
{
    Window *w = (Window *)h;
    if (w->display)
        XResizeWindow(w->display, w->window, width, height);
    resized(w, width, height);
    return 0;
}

static void view_draw(LV2UI_Handle h, cairo_t *cr, int width, int height)
{
    Window *w = (Window *)h;
    w->ui.resize(width, height);
    w->ui.draw(cr);
}

static void view_press(LV2UI_Handle h, double x, double y, int clicks)
{
    ((Window *)h)->ui.press(x, y, clicks);
}

static void view_motion(LV2UI_Handle h, double x, double y)
{
    ((Window *)h)->ui.motion(x, y);
}

static void view_release(LV2UI_Handle h, double x, double y)
{
    ((Window *)h)->ui.release(x, y);
}

static const void *extension_data(const char *uri)
{
    static const LV2UI_Idle_Interface idle_interface = {idle};
    static const LV2UI_Resize resize = {nullptr, ui_resize};
    static const ViewInterface view = {view_draw, view_press, view_motion, view_release};
    if (!std::strcmp(uri, LV2_UI__idleInterface))
        return &idle_interface;
    if (!std::strcmp(uri, LV2_UI__resize))
        return &resize;
    if (!std::strcmp(uri, LOOPMASS_VIEW_URI))
        return &view;
    return nullptr;
}

static const LV2UI_Descriptor descriptor = {LOOPMASS_UI_URI, instantiate, cleanup, port_event, extension_data};

} // namespace lv2ui

extern "C" LV2_SYMBOL_EXPORT const LV2UI_Descriptor *lv2ui_descriptor(uint32_t index)
{
    return index == 0 ? &lv2ui::descriptor : nullptr;
}
