// The one front end: a definition text scanned once into a checked body, which every back end and
// every derived form reads instead of the text.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "compile/scanner.h"

namespace quob {

// The kind of a function, chosen by the creating operation; it picks the keyword set.
enum class FunctionKind : uint8_t { Real = 0, Integer = 1, Recursive = 2 };

constexpr int32_t kMaxParams = 16;
constexpr int32_t kMaxResults = 8;
constexpr int32_t kFloatStack = 8;   // values a real body holds at once: the x87 registers
constexpr int32_t kIntStack = 1023;  // values an integer body holds at once

// One word of a body, resolved: a keyword of the kind's set, a parameter or a literal.
struct TWord {
    enum Kind : uint8_t { kKeyword, kParam, kLiteral } kind;
    int16_t index = 0;      // kKeyword: the keyword's index; kParam: the parameter's
    bool extended = false;  // a real literal loaded in full extended precision ("!" mark)
    long double real = 0;   // a real literal's value as it is loaded (a single unless extended)
    int32_t integer = 0;    // an integer literal's value
};

// A definition that passed every check of the language's rules.
struct TBody {
    FunctionKind kind = FunctionKind::Real;
    char name[kTokenLength + 1] = {};
    int32_t paramCount = 0;
    char params[kMaxParams][kTokenLength + 1] = {};
    std::vector<TWord> words;
    int32_t results = 0;  // the "ret" words: R
    int32_t deepest = 0;  // the deepest point of the stack, the keywords' temporaries included

    bool IsReal() const { return kind != FunctionKind::Integer; }
    // The index of the first parameter with the name, or -1.
    int32_t Param(const char *name) const;
};

// What the header's checks ask of the function table.
struct TTableState {
    std::function<bool(const char *name)> nameInUse;  // a live function bears the name
    bool full = false;                                // no slot is free
};

// Scans a definition text once, checking the header and the body by the language's rules in the
// order they are tested, and returns the checked body. Every failure throws TAbandon with its
// code: 1 to 8 for the header, 9 for a full table (before any parameter is read) or a lookup table
// that cannot be created (shown at once), 10 to 14 for the body, and 15 or 16 in place of any body
// code of a recursive function. Code 11 counts each keyword's temporary registers (real kinds
// only); an integer body that holds more than 1023 values fails with 9.
std::shared_ptr<const TBody> ScanDefinition(const char *text, FunctionKind kind,
                                            const TTableState &table);

// Texts scanned so far in this process (debug builds; 0 otherwise): one per compilation.
int64_t DefinitionsScanned();

}  // namespace quob
