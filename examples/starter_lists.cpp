// Writes the starter lists "fractals.dat", "cadjusts.dat" and "hotspots.dat" from their readable
// sources, byte for byte as the viewer's dialogs would store the same entries.
//   starter-lists SOURCE-FOLDER OUTPUT-FOLDER
#include <cstdio>
#include <string>

#include "list_records.h"
#include "starter_sources.h"
#include "whole_file.h"

using namespace quob;

namespace {

int Fail(const std::string &message) {
    std::fprintf(stderr, "starter-lists: %s\n", message.c_str());
    return 1;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) return Fail("usage: starter-lists SOURCE-FOLDER OUTPUT-FOLDER");
    examples::StarterLibrary library;
    std::string error;
    if (!examples::ReadStarterSources(argv[1], library, error)) return Fail(error);

    // Every name that one entry gives to another must pick exactly one entry.
    const std::vector<std::string> colors = examples::CommentsOf(library.colors);
    std::vector<common::FormulaEntry> fractalEntries;
    for (const examples::StarterFractal &f : library.fractals) {
        if (common::FindEntry(colors, f.color, error) < 0)
            return Fail("colour of \"" + f.entry.comment.substr(0, 40) + "\": " + error);
        fractalEntries.push_back(f.entry);
    }
    const std::vector<std::string> fractals = examples::CommentsOf(fractalEntries);
    for (const examples::StarterPosition &p : library.positions)
        if (!p.fractal.empty() && common::FindEntry(fractals, p.fractal, error) < 0)
            return Fail("fractal of \"" + p.entry.comment.substr(0, 40) + "\": " + error);

    std::string fractalBytes, colorBytes, positionBytes;
    auto add = [&](std::string &bytes, const std::string &record, const std::string &comment) {
        if (record.empty()) error = "a text too long for its field: \"" + comment + "\"";
        bytes += record;
        return record.empty();
    };
    for (const common::FormulaEntry &e : fractalEntries)
        if (add(fractalBytes, common::FormulaRecord(e), e.comment)) return Fail(error);
    for (const common::FormulaEntry &e : library.colors)
        if (add(colorBytes, common::FormulaRecord(e), e.comment)) return Fail(error);
    for (const examples::StarterPosition &p : library.positions)
        if (add(positionBytes, common::PositionRecord(p.entry), p.entry.comment))
            return Fail(error);

    const std::string out = argv[2];
    for (const auto &[name, bytes] :
         {std::pair{"fractals.dat", &fractalBytes}, std::pair{"cadjusts.dat", &colorBytes},
          std::pair{"hotspots.dat", &positionBytes}})
        if (!common::WriteWholeFile(out + "/" + name, *bytes, error))
            return Fail(out + "/" + name + ": " + error);
    return 0;
}
