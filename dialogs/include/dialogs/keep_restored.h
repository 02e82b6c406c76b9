// Windows the user must never lose sight of: the wizard, the progress
// window and the dialogs that wait for an answer. They have no minimise
// button, but some X11 window managers (openbox among them) offer one
// anyway, and minimise a dialog's parent window with it; nothing in the
// program would show them again.
#pragma once

#include <QWidget>

namespace dorvik {

// Shows `window` again at once whenever it is minimised while shown; a
// hidden window stays hidden.
void KeepRestored(QWidget* window);

}  // namespace dorvik
