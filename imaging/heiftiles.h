#pragma once

#include "imaging/picturesource.h"

// Whether the pictures a HEIF file's primary picture is made of hold data of their own. A grid
// (or an overlay) lists the tiles it is made of; libheif decodes each entry of that list in
// turn, so a few kilobytes listing one tile a thousand times would decode a gigabyte picture
// from one tile's data. This reads the file's item boxes (the primary item, the references
// between items and where each item's data lies) and walks from the primary picture, and from
// the pictures that belong to it (alpha, depth), through the tiles they are made of.
//
// Returns the reason to refuse the file: a tile reached twice, two tiles whose data overlap, or
// item boxes that cannot be read. Returns nullptr for a file whose tiles each hold their own data
// (and for a file with no item boxes at all, which libheif refuses by itself).
const char* heifTilesShareData(PictureSource& data);
