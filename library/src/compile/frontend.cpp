// The front end: the header and the body of a definition text, checked in one scan.
#include "compile/frontend.h"

#include <algorithm>
#include <cstring>

#include "compile/keywords.h"
#include "compile/tables.h"
#include "errors.h"
#include "quob32.h"

namespace quob {
namespace {

#ifndef NDEBUG
int64_t gScanned = 0;
#endif

[[noreturn]] void Fail(int32_t code) { throw TAbandon{code}; }

// The lookup table an integer keyword's code reads; one that cannot be created ends the
// compilation with code 9, shown at once.
void Require(TTable table, bool constant) {
    const void *entry = nullptr;
    switch (table) {
        case TTable::kNone:
            return;
        case TTable::kSquare:
            if (constant) return;  // squared at compile time
            entry = SquareTable();
            break;
        case TTable::kSine:
            entry = SineTable();
            break;
    }
    if (!entry) {
        TAbandon failure{QUOB_ERR_OUT_OF_RESOURCES};
        failure.shown = true;
        throw failure;
    }
}

void ReadHeader(TScanner &scanner, KeywordSet keywords, const TTableState &table, TBody &body) {
    if (scanner.AtEnd()) Fail(QUOB_ERR_NO_EXPRESSION);
    const char *name = scanner.NextToken();
    if (!IsName(name)) Fail(QUOB_ERR_FUNCTION_NAME_EXPECTED);
    if (KeywordIndex(keywords, name) >= 0) Fail(QUOB_ERR_RESERVED_FUNCTION_NAME);
    if (table.nameInUse && table.nameInUse(name)) Fail(QUOB_ERR_DUPLICATE_FUNCTION);
    if (table.full) Fail(QUOB_ERR_OUT_OF_RESOURCES);
    std::strcpy(body.name, name);
    for (;;) {
        if (scanner.AtEnd()) Fail(QUOB_ERR_NO_EXPRESSION);
        const char *token = scanner.NextToken();
        if (std::strcmp(token, "=") == 0) return;
        if (body.paramCount == kMaxParams) Fail(QUOB_ERR_TOO_MANY_VARIABLES);
        if (!IsName(token)) Fail(QUOB_ERR_VARIABLE_NAME_EXPECTED);
        if (KeywordIndex(keywords, token) >= 0) Fail(QUOB_ERR_RESERVED_VARIABLE_NAME);
        if (body.Param(token) >= 0) Fail(QUOB_ERR_DUPLICATE_VARIABLE);
        std::strcpy(body.params[body.paramCount++], token);
    }
}

// The body's words, each checked against the values on the stack as it is read. Integer bodies
// also follow which values are constants: "sqr" of a constant folds without the square table.
void ReadBody(TScanner &scanner, TBody &body) {
    const bool real = body.IsReal();
    const KeywordSet keywords = real ? kFloatKeywords : kIntKeywords;
    const int32_t limit = real ? kFloatStack : kIntStack;
    // A push beyond the stack: the x87 registers of a real body (code 11), the descriptors of an
    // integer one (code 9).
    const int32_t overflow = real ? QUOB_ERR_STACK_OVERFLOW : QUOB_ERR_OUT_OF_RESOURCES;
    std::vector<bool> constant;  // integer bodies: per value on the stack
    int32_t depth = 0;
    auto push = [&](int32_t after, int32_t temporaries) {
        if (after + temporaries > limit) Fail(overflow);
        body.deepest = std::max(body.deepest, after + temporaries);
        depth = after;
    };
    for (const char *t = scanner.NextToken(); t[0]; t = scanner.NextToken()) {
        TWord word{TWord::kKeyword};
        if (const int keyword = KeywordIndex(keywords, t); keyword >= 0) {
            const TKeywordFacts &k = real ? kFloatFacts[keyword] : kIntFacts[keyword];
            word.index = static_cast<int16_t>(keyword);
            if (depth < k.pops) Fail(QUOB_ERR_NOT_ENOUGH_PARAMETERS);
            if (!real && k.stack != TStack::kNothing) {
                const bool folds =
                    std::all_of(constant.end() - k.pops, constant.end(), [](bool c) { return c; });
                Require(k.table, folds);
                const std::vector<bool> operands(constant.end() - k.pops, constant.end());
                constant.resize(constant.size() - static_cast<std::size_t>(k.pops));
                switch (k.stack) {
                    case TStack::kOperation:
                        constant.push_back(folds);
                        break;
                    case TStack::kCopy:
                        constant.insert(constant.end(), {operands[0], operands[0]});
                        break;
                    case TStack::kSwap:
                        constant.insert(constant.end(), {operands[1], operands[0]});
                        break;
                    default:
                        break;
                }
            }
            push(depth - k.pops + k.pushes, real ? k.temporaries : 0);
            if (k.stack == TStack::kReturn) ++body.results;
        } else if (const int32_t param = body.Param(t); param >= 0) {
            word.kind = TWord::kParam;
            word.index = static_cast<int16_t>(param);
            push(depth + 1, 0);
            constant.push_back(false);
        } else {
            word.kind = TWord::kLiteral;
            RealLiteral literal{};
            const bool valid =
                real ? ParseRealLiteral(t, literal) : ParseIntLiteral(t, word.integer);
            if (!valid) Fail(QUOB_ERR_INVALID_EXPRESSION);
            word.real = literal.value;
            word.extended = literal.extended;
            push(depth + 1, 0);
            constant.push_back(true);
        }
        body.words.push_back(word);
    }
    if (depth != 0) Fail(QUOB_ERR_STACK_NOT_EMPTY);
    if (body.results == 0) Fail(QUOB_ERR_INVALID_EXPRESSION);
}

}  // namespace

int32_t TBody::Param(const char *name) const {
    for (int32_t p = 0; p < paramCount; ++p)
        if (std::strcmp(params[p], name) == 0) return p;
    return -1;
}

std::shared_ptr<const TBody> ScanDefinition(const char *text, FunctionKind kind,
                                            const TTableState &table) {
#ifndef NDEBUG
    ++gScanned;
#endif
    auto body = std::make_shared<TBody>();
    body->kind = kind;
    TScanner scanner(text);
    ReadHeader(scanner, kind == FunctionKind::Integer ? kIntKeywords : kFloatKeywords, table,
               *body);
    if (kind != FunctionKind::Recursive) {
        ReadBody(scanner, *body);
    } else {
        // Any failure of a recursive body has a code of its own, and so has a recursive function
        // without parameters, whatever its body.
        const int32_t failure =
            body->paramCount == 0 ? QUOB_ERR_RECURSIVE_NO_PARAMETER : QUOB_ERR_RECURSIVE_NO_RESULT;
        try {
            ReadBody(scanner, *body);
        } catch (const TAbandon &) {
            Fail(failure);
        }
        if (body->paramCount == 0) Fail(failure);
    }
    if (body->results > kMaxResults) Fail(QUOB_ERR_TOO_MANY_RESULTS);
    return body;
}

int64_t DefinitionsScanned() {
#ifndef NDEBUG
    return gScanned;
#else
    return 0;
#endif
}

}  // namespace quob
