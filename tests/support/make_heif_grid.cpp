// Writes a grid HEIC for the end-to-end checks and for measuring by hand:
//   make_heif_grid OUT COLUMNS ROWS TILE_SIZE [own|referenced|shared]
#include "tests/support/heifgrids.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

int main(int argc, char** argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s OUT COLUMNS ROWS TILE_SIZE [own|referenced|shared]\n",
                     argv[0]);
        return 2;
    }
    HeifGrids::Tiles tiles = HeifGrids::Tiles::Own;
    if (argc > 5 && std::strcmp(argv[5], "referenced") == 0)
        tiles = HeifGrids::Tiles::OneReferenced;
    else if (argc > 5 && std::strcmp(argv[5], "shared") == 0)
        tiles = HeifGrids::Tiles::SharedData;
    const auto bytes = HeifGrids::grid(std::atoi(argv[2]), std::atoi(argv[3]),
                                       std::atoi(argv[4]), tiles);
    std::ofstream out(argv[1], std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return out ? 0 : 1;
}
