#include "xdriver.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dlfcn.h>

#include <cctype>
#include <vector>

namespace xdriver {
namespace {

::Display *display = nullptr;
void *xtst = nullptr;
int (*FakeKey)(::Display *, unsigned, Bool, unsigned long) = nullptr;
int (*FakeButton)(::Display *, unsigned, Bool, unsigned long) = nullptr;
int (*FakeMotion)(::Display *, int, int, int, unsigned long) = nullptr;

std::string Title(Window window) {
    std::string title;
    Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(display, window, netName, 0, 1024, False, utf8, &type, &format, &count,
                           &after, &data) == Success &&
        data) {
        title.assign(reinterpret_cast<char *>(data), count);
        XFree(data);
        if (!title.empty()) return title;
    }
    char *name = nullptr;
    if (XFetchName(display, window, &name) && name) {
        title = name;
        XFree(name);
    }
    return title;
}

bool Search(Window window, const std::string &title, Rect &where, Window *result = nullptr) {
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable &&
        Title(window) == title) {
        Window child;
        XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &where.x, &where.y,
                              &child);
        where.width = attributes.width;
        where.height = attributes.height;
        if (result) *result = window;
        return true;
    }
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count)) return false;
    bool found = false;
    for (unsigned i = 0; i < count && !found; ++i)
        found = Search(children[i], title, where, result);
    if (children) XFree(children);
    return found;
}

void Send(unsigned keycode, bool press) {
    FakeKey(display, keycode, press, CurrentTime);
    XFlush(display);
}

unsigned Code(const char *keysym) { return XKeysymToKeycode(display, XStringToKeysym(keysym)); }

}  // namespace

bool Open(std::string &error) {
    display = XOpenDisplay(nullptr);
    if (!display) {
        error = "cannot connect to the X server ($DISPLAY)";
        return false;
    }
    xtst = dlopen("libXtst.so.6", RTLD_NOW);
    if (!xtst) {
        error = std::string("libXtst.so.6 is missing: ") + dlerror();
        return false;
    }
    FakeKey = reinterpret_cast<decltype(FakeKey)>(dlsym(xtst, "XTestFakeKeyEvent"));
    FakeButton = reinterpret_cast<decltype(FakeButton)>(dlsym(xtst, "XTestFakeButtonEvent"));
    FakeMotion = reinterpret_cast<decltype(FakeMotion)>(dlsym(xtst, "XTestFakeMotionEvent"));
    if (!FakeKey || !FakeButton || !FakeMotion) {
        error = "libXtst.so.6 lacks the XTestFake functions";
        return false;
    }
    return true;
}

void Close() {
    if (display) XCloseDisplay(display);
    if (xtst) dlclose(xtst);
    display = nullptr;
    xtst = nullptr;
}

bool Focus(const std::string &title) {
    Rect where;
    Window window = 0;
    if (!Search(DefaultRootWindow(display), title, where, &window)) return false;
    XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
    XFlush(display);
    return true;
}

bool FindWindow(const std::string &title, Rect &where) {
    return Search(DefaultRootWindow(display), title, where);
}

void Key(const std::string &keysym, bool control, bool shift) {
    if (control) Send(Code("Control_L"), true);
    if (shift) Send(Code("Shift_L"), true);
    Send(Code(keysym.c_str()), true);
    Send(Code(keysym.c_str()), false);
    if (shift) Send(Code("Shift_L"), false);
    if (control) Send(Code("Control_L"), false);
}

void Type(const std::string &text) {
    for (const char c : text) {
        switch (c) {
            case '/':
                Key("slash");
                break;
            case '.':
                Key("period");
                break;
            case '-':
                Key("minus");
                break;
            case '_':
                Key("underscore", false, true);
                break;
            default:
                Key(std::string(1, static_cast<char>(std::tolower(static_cast<unsigned char>(c)))),
                    false, std::isupper(static_cast<unsigned char>(c)));
        }
    }
}

void MoveTo(int x, int y) {
    FakeMotion(display, -1, x, y, CurrentTime);
    XFlush(display);
}

void Click() {
    FakeButton(display, 1, True, CurrentTime);
    FakeButton(display, 1, False, CurrentTime);
    XFlush(display);
}

void DoubleClick() {
    Click();
    Click();
}

}  // namespace xdriver
