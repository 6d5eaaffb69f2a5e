#pragma once

struct _XDisplay;

// The Xlib display of the running Qt application when it runs on X11, else none.
_XDisplay *qtX11Display();
