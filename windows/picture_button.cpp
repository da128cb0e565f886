#include "windows/picture_button.h"

#include <utility>

namespace corvane::windows {

void InstallPictureButton(Control& main, Control& up, Control& down, const Picture& released,
                          const Picture& pressed, std::function<void()> action) {
  up.SetPicture(&released);
  up.SetVisible(false);
  down.SetPicture(&pressed);
  down.SetVisible(false);
  main.SetPicture(&released);
  // The handlers look at neither the mouse button, nor the shift keys, nor the position.
  main.onMouseDown = [&main, &down](MouseButton, std::int32_t, float, float) { main.SetPicture(down.GetPicture()); };
  main.onMouseUp = [&main, &up](MouseButton, std::int32_t, float, float) { main.SetPicture(up.GetPicture()); };
  main.onClick = std::move(action);
}

void ClickPictureButton(Control& main) {
  Form& form = main.Owner();
  const auto keep = form.weak_from_this().lock();
  form.MouseDown(main, MouseButton::Left, 0, 0.0F, 0.0F);
  form.MouseUp(main, MouseButton::Left, 0, 0.0F, 0.0F);
  form.Click(main);
}

}  // namespace corvane::windows
