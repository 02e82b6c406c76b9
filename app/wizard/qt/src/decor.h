// The wizard's decorative pictures, drawn at run time.
#pragma once

#include <QPixmap>

namespace dorvik {

// The tall picture of the side panel.
QPixmap SidePicture(int width, int height);
// The small picture of the welcome page.
QPixmap WelcomePicture(int size);

}  // namespace dorvik
