// The inputs that a run's arguments name. Each argument is one of:
//   - a LAS or LAZ file, or the URL of one;
//   - a folder: its .las and .laz files in name order, not its subfolders'
//     (a .laz beside a .las of the same name is left out: both would give
//     the same points);
//   - @LIST: a UTF-8 text file with one input per line (blank lines and lines
//     beginning with '#' skipped; names relative to the current folder);
//   - a virtual point cloud (.vpc): the GeoJSON FeatureCollection of STAC
//     items that names a survey's tiles, each by the href of its data asset
//     (relative to the .vpc's folder, or a URL), with the bounds it states
//     for each tile in the tiles' own coordinate system;
//   - on Windows, a name whose last segment holds '*' or '?': the files it
//     matches, in name order.
// Extensions are matched without regard to letter case.
#pragma once

#include "area.h"

#include <string>
#include <vector>

struct InputName {
    std::string path;                   // a file's name or a URL, as given or as a list gives it
    bool has_bounds = false;            // a .vpc stated the tile's bounds
    area::Box bounds{0, 0, 0, 0};
};

// The inputs named by `args`, in order; "" or the line that refuses them:
//   No file matches tiles/*.laz
//   tiles holds no .las or .laz file
//   Cannot read the list tiles.txt
//   tiles.txt names no input
//   Cannot read the virtual point cloud survey.vpc: REASON
std::string expand_inputs(const std::vector<std::string> &args, std::vector<InputName> &inputs);

// Whether `name` ends in `extension` (".las"), in any letter case.
bool has_extension(const std::string &name, const char *extension);
