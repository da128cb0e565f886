// Picture buttons: every push button of the add-in's windows is three image controls, the
// visible one (Main) and two hidden picture stores (Up, the released look, and Down, the pressed
// look). Pressing any mouse button over Main shows the pressed picture; the release (which the
// window system delivers to Main even when the pointer has left it) shows the released picture
// again; a Click, which follows only a release over Main, runs the window's action. The visible
// control takes the size of the picture it shows, its top-left corner staying put. Image
// controls take no keyboard focus, so a picture button has no tab stop, no access key and is
// never a default or cancel button.
#pragma once

#include <functional>

#include "windows/form.h"

namespace corvane::windows {

// Gives Up and Down their pictures (hidden), Main the released one, and installs the handlers.
void InstallPictureButton(Control& main, Control& up, Control& down, const Picture& released,
                          const Picture& pressed, std::function<void()> action);

// What a mouse click with the left button delivers to Main: press, release, click.
void ClickPictureButton(Control& main);

}  // namespace corvane::windows
