// The pictures of the tool window's buttons (16 x 16) and the program's icon (32 x 32), drawn in
// the 16 colours of the classic VGA palette on a transparent ground.
#ifndef SPIRALIS_ICONS_H
#define SPIRALIS_ICONS_H

#include <QImage>

enum class TToolPicture {
    Home,
    Back,
    Forward,
    Stop,
    ZoomIn,
    ZoomOut,
    Exact,
    Fractal,
    Colors,
    Save
};

QImage ToolPicture(TToolPicture picture);
QImage ProgramIcon();

#endif  // SPIRALIS_ICONS_H
