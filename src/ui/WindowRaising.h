#pragma once

class QWidget;

// Shows a top-level window in front, centred on the primary screen the first time (`placed`
// remembers it); later it reopens where the user left it.
void showInFront(QWidget &window, bool &placed);

// Lets Escape and Control+W close the window, as they do the windows of other programs.
void closeOnEscapeAndControlW(QWidget &window);
