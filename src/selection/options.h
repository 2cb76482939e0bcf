// The command line: the input's name and the options that select points or
// name the outputs.
//
//   Tessaline [OPTION]... INPUT...
//
// An INPUT is a LAS or LAZ file, a URL, a folder, a list (@LIST) or a
// virtual point cloud (.vpc); input_list.h expands them.
//
// Options are long options, before or after the input, their value the next
// argument or after "=" ("--class 2,9", "--class=2,9"); "--" ends them. A
// command line that holds none of them is left to the program's own rule of
// exactly one argument, as it always was.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Which points a run keeps. A point is kept when it passes every option given.
struct Selection {
    bool by_class = false;
    bool classes[256] = {};              // by class number

    bool by_return = false;
    bool return_numbers[16] = {};        // by return number
    bool first = false, last = false, single = false;

    bool by_extent = false;
    double xmin = 0, ymin = 0, xmax = 0, ymax = 0;

    bool thinning = false;
    double thin_size = 0;

    // --clip's area (a polygon file or a WKT text), its GeoPackage layer and
    // its coordinate system, as given; the driver reads them.
    bool clipping = false;
    std::string clip, clip_layer, clip_crs;

    // True when some point may be left out.
    bool selects() const { return by_class || by_return || by_extent || thinning || clipping; }
};

struct CommandLine {
    bool has_options = false;            // a known option was given
    Selection selection;
    std::string output;                  // --output's NAME.shp, or ""
    std::vector<std::string> columns;    // --columns' names, as given; empty: every column
    std::string crs;                     // --crs's coordinate system as given, or ""
    uint64_t max_size = 0;               // --max-size in bytes: the outputs go in parts; 0: one shapefile
    std::vector<std::string> others;     // the arguments that are not options or their values
};

// Reads argv[1..argc-1]. Returns "" when every option's value is sound
// (has_options false: no known option, `others` untouched), else the line
// that refuses the first faulty one, e.g.
//   --class takes class numbers from 0 to 255 separated by commas, not "2,x"
std::string parse_command_line(int argc, const char *const argv[], CommandLine &line);
