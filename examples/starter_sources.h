// The readable sources of the starter lists (fractals.txt, cadjusts.txt, hotspots.txt): entries of
// "key: value" lines, each entry beginning with its "formula:" or "position:" line; a line that
// begins with a blank continues the value above it, and lines that begin with "#" are remarks.
// A fractal formula also names the colour formula that suits it (a word of that formula's
// comment), the view it shows best and, where it needs them, its precision values; a position may
// name the fractal formula it was found with.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "list_records.h"

namespace quob::examples {

struct StarterFractal {
    common::FormulaEntry entry;
    std::string color;  // a word of a colour formula's comment
    long double re = 0, im = 0, scale = 0;
    int32_t iterations = 0, blockLength = 0;  // 0: the viewer's defaults
    float maxModule = 0;                      // 0: the viewer's default
    int32_t recursionInit = 0;                // 0: start at the point, as the viewer does
};

struct StarterPosition {
    common::PositionEntry entry;
    std::string fractal;  // a word of a fractal formula's comment; empty: the default formula
};

struct StarterLibrary {
    std::vector<StarterFractal> fractals;
    std::vector<common::FormulaEntry> colors;
    std::vector<StarterPosition> positions;
};

// Reads the three sources of a folder; false with the file, line and reason of the first fault.
bool ReadStarterSources(const std::string &folder, StarterLibrary &library, std::string &error);

// The comments of formula entries, for FindEntry.
std::vector<std::string> CommentsOf(const std::vector<common::FormulaEntry> &entries);

}  // namespace quob::examples
