// The main window's size and the position of the pane between the pages and
// the log, remembered from one session to the next in
// $XDG_CONFIG_HOME/rarur-service/window. The key-file text and the fitting to
// a screen are pure; main_window.cpp reads and writes the file.
#pragma once

#include <cstddef>
#include <string>

struct WindowGeometry {
    int width = 0;          // 0 (with height 0): the window's own default size
    int height = 0;
    int pane = -1;          // position of the pane; -1: the window's own
    bool maximized = false;
};

// The key file: [window] width=… height=… pane=… maximized=…. A missing or
// damaged file, or a value no window could have, gives the defaults for what
// it concerns (a size only as a whole).
WindowGeometry geometry_from_text(const char* text, size_t size);
std::string geometry_to_text(const WindowGeometry& geometry);

// The geometry as it fits a screen of the given size: a larger window is cut to
// the screen, and its pane keeps its share of the height.
WindowGeometry geometry_fit(WindowGeometry geometry, int screen_width, int screen_height);
