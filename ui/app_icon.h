// Icon 128: a small spectrum on a plot frame, 32 x 32 and 16 x 16, 16 colours.
#pragma once

#include <QIcon>
#include <QImage>

// The picture at size 32 or 16, in the 16-colour palette (Indexed8, 16 entries).
QImage AppIconImage(int size);
QIcon AppIcon();
