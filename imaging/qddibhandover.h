#pragma once

#include "imaging/rgbimage.h"

#include <stop_token>

struct QdDibPicture;

// Turns a loaded picture into 8-bit RGB, top row first: looks indexed pixels up in the colour
// table, decodes run-length data and flips 24-bit rows from blue-green-red. Throws
// EQdDIBInvalidDIB when the bit count and the compression do not fit together, and
// EOutOfResources for a picture too large to hold.
//
// Pixels the stored data does not reach (short data, indices beyond the colour table, pixels a
// run-length stream leaves unset, run-length data in a top-down picture) come out black. A
// run-length picture, and one whose data ends before its last pixel, comes in RgbImage's sparse
// form: the black pixels the data does not reach are not stored, whether in rows of their own
// or at the ends of rows, so what they cost does not grow with the size the header declares.
//
// Once `stop` is requested the hand-over ends with PictureWorkStopped.
RgbImage handOverToRgb(const QdDibPicture& picture, const std::stop_token& stop = {});
