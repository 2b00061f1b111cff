#pragma once

#include <cstdint>
#include <vector>

// HEIC files whose primary picture is a grid of HEVC tiles, as phones write them, for the tests,
// the fuzz seeds and the end-to-end checks. The tiles are written by libheif's HEVC encoder and
// placed in a grid container made here (libheif writes no grids itself).
namespace HeifGrids {

// How the tiles hold their data.
enum class Tiles
{
    Own,           // each tile an item of its own with its own copy of the data
    OneReferenced, // a single tile item, referenced by every cell of the grid
    SharedData,    // an item per cell, every item's data the same bytes of the file
    AlphaSharing,  // own tiles, and an alpha picture whose data is the first tile's
};

// How the boxes are written: as small as they go, or with the larger forms that large files
// use: free boxes of more than 64 KB before the item boxes (one with a 64-bit size), item
// locations of version 2 (32-bit item IDs) with base offsets, and the tiles' data inside the
// item data box rather than after the item boxes.
enum class Boxes
{
    Compact,
    Large,
};

// A grid of columns x rows tiles of tileSize x tileSize pixels. Own tiles cycle through a few
// differently patterned pictures, each with much detail, so that decoding costs what a phone's
// photo costs.
std::vector<std::uint8_t> grid(int columns, int rows, int tileSize, Tiles tiles = Tiles::Own,
                               Boxes boxes = Boxes::Compact);

// A phone-style photo: 16 x 12 own tiles of 512 x 512 pixels (8192 x 6144).
inline std::vector<std::uint8_t> phonePhoto()
{
    return grid(16, 12, 512);
}

} // namespace HeifGrids
