#include "starter_sources.h"

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

namespace quob::examples {

namespace {

struct Field {
    std::string key, value;
    int line;
};
using Entry = std::vector<Field>;

// The entries of a source file, each a list of fields beginning with `first`.
bool ReadEntries(const std::string &path, const std::string &first, std::vector<Entry> &entries,
                 std::string &error) {
    std::ifstream file(path);
    if (!file) {
        error = path + ": cannot be read";
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        auto fail = [&](const std::string &why) {
            error = path + ":" + std::to_string(number) + ": " + why;
            return false;
        };
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == ' ') {
            if (entries.empty() || entries.back().empty()) return fail("continuation of nothing");
            entries.back().back().value += " " + line.substr(line.find_first_not_of(' '));
            continue;
        }
        const std::size_t colon = line.find(": ");
        if (colon == std::string::npos) return fail("not a \"key: value\" line");
        const std::string key = line.substr(0, colon);
        if (key == first) entries.emplace_back();
        if (entries.empty()) return fail("an entry begins with \"" + first + ":\"");
        entries.back().push_back({key, line.substr(colon + 2), number});
    }
    return true;
}

// The numbers of a value, all of them read whole.
bool Numbers(const std::string &value, std::vector<long double> &numbers) {
    std::istringstream words(value);
    for (std::string word; words >> word;) {
        char *end = nullptr;
        numbers.push_back(std::strtold(word.c_str(), &end));
        if (*end != '\0') return false;
    }
    return true;
}

// Hands every field of every entry to take, which names what is wrong with it.
bool EachField(const std::string &path, const std::vector<Entry> &entries, std::string &error,
               const std::function<std::string(std::size_t, const Field &)> &take) {
    for (std::size_t i = 0; i < entries.size(); ++i)
        for (const Field &field : entries[i]) {
            const std::string why = take(i, field);
            if (!why.empty()) {
                error = path + ":" + std::to_string(field.line) + ": " + why;
                return false;
            }
        }
    return true;
}

}  // namespace

bool ReadStarterSources(const std::string &folder, StarterLibrary &library, std::string &error) {
    std::vector<Entry> fractals, colors, positions;
    const std::string fractalPath = folder + "/fractals.txt", colorPath = folder + "/cadjusts.txt",
                      positionPath = folder + "/hotspots.txt";
    if (!ReadEntries(fractalPath, "formula", fractals, error) ||
        !ReadEntries(colorPath, "formula", colors, error) ||
        !ReadEntries(positionPath, "position", positions, error))
        return false;

    library.fractals.resize(fractals.size());
    const bool fractalsRead =
        EachField(fractalPath, fractals, error, [&](std::size_t i, const Field &f) -> std::string {
            StarterFractal &to = library.fractals[i];
            std::vector<long double> n;
            if (f.key == "formula")
                to.entry.expression = f.value;
            else if (f.key == "comment")
                to.entry.comment = f.value;
            else if (f.key == "color")
                to.color = f.value;
            else if (f.key == "view") {
                if (!Numbers(f.value, n) || n.size() != 3 || !(n[2] > 0))
                    return "view: centre re, centre im and a scale above 0";
                to.re = n[0], to.im = n[1], to.scale = n[2];
            } else if (f.key == "precision") {
                if (!Numbers(f.value, n) || n.size() < 2 || n.size() > 4 || n[0] < 1 || n[1] < 1 ||
                    n[1] > 1000)
                    return "precision: iterations limit, block length, maybe max module and "
                           "recursion init";
                to.iterations = int32_t(n[0]), to.blockLength = int32_t(n[1]);
                if (n.size() >= 3) to.maxModule = float(n[2]);
                if (n.size() == 4) to.recursionInit = int32_t(n[3]);
            } else
                return "unknown key \"" + f.key + "\"";
            return {};
        });
    library.colors.resize(colors.size());
    const bool colorsRead =
        fractalsRead &&
        EachField(colorPath, colors, error, [&](std::size_t i, const Field &f) -> std::string {
            if (f.key == "formula")
                library.colors[i].expression = f.value;
            else if (f.key == "comment")
                library.colors[i].comment = f.value;
            else
                return "unknown key \"" + f.key + "\"";
            return {};
        });
    library.positions.resize(positions.size());
    return colorsRead &&
           EachField(positionPath, positions, error,
                     [&](std::size_t i, const Field &f) -> std::string {
                         StarterPosition &to = library.positions[i];
                         std::vector<long double> n;
                         if (f.key == "position") {
                             if (!Numbers(f.value, n) || n.size() != 3 || !(n[2] > 0))
                                 return "position: centre re, centre im and a scale above 0";
                             to.entry.re = n[0], to.entry.im = n[1], to.entry.scale = n[2];
                         } else if (f.key == "comment")
                             to.entry.comment = f.value;
                         else if (f.key == "fractal")
                             to.fractal = f.value;
                         else
                             return "unknown key \"" + f.key + "\"";
                         return {};
                     });
}

std::vector<std::string> CommentsOf(const std::vector<common::FormulaEntry> &entries) {
    std::vector<std::string> comments;
    for (const common::FormulaEntry &e : entries) comments.push_back(e.comment);
    return comments;
}

}  // namespace quob::examples
