/* The windows' icon, from the menu entry's SVG: square RGBA pixel rows for
 * Fl_RGB_Image (editor/icon.cpp is written by tools/make-icon.py). */
#ifndef MORV_EDITOR_ICON_H
#define MORV_EDITOR_ICON_H

enum { ICON_SIZE = 48 };

extern const unsigned char acIconRGBA[ICON_SIZE * ICON_SIZE * 4];

#endif
