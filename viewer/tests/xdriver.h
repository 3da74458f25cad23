// Drives a real X server as a user would, through the XTEST extension (libXtst, opened at run
// time): for the end-to-end test of the viewer under Xvfb. No X11 types leak out of here.
#ifndef SPIRALIS_XDRIVER_H
#define SPIRALIS_XDRIVER_H

#include <string>

namespace xdriver {

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;  // root co-ordinates of the client area
};

// Connects to $DISPLAY and loads libXtst.so.6; false with a reason when either fails.
bool Open(std::string &error);
void Close();

// Gives the keyboard to the window titled so, as a window manager does on a click (Xvfb has
// none, and a window's own focus request reverts to the root when that window closes).
bool Focus(const std::string &title);

// A mapped window titled exactly so (WM_NAME or _NET_WM_NAME), anywhere in the tree.
bool FindWindow(const std::string &title, Rect &where);

// Presses and releases a key by its keysym name ("Return", "s", "F10"), with modifiers.
void Key(const std::string &keysym, bool control = false, bool shift = false);
// Types plain text: letters, digits and / . - _
void Type(const std::string &text);
void MoveTo(int x, int y);
void Click();
void DoubleClick();

}  // namespace xdriver

#endif  // SPIRALIS_XDRIVER_H
