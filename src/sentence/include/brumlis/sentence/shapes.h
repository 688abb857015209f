#pragma once

#include "brumlis/sentence/sentencebuffer.h"
#include "brumlis/sentence/wordlist.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace brumlis {

/// One part of a sentence shape: a word from a list, a fixed phrase, or a choice between
/// rows of parts.
struct ShapePart {
    enum class Kind { Word, Phrase, Choice };
    Kind kind = Kind::Word;
    /// Word: the class, read from text/<class>.txt. Phrase: the phrase as shown.
    std::u16string text;
    /// Choice: the alternatives, each a row of one or more parts.
    std::vector<std::vector<ShapePart>> alternatives;
};

using ShapeRow = std::vector<ShapePart>;

/// The one walk over a row of parts: for each, in order, `visitor.word(part)`,
/// `visitor.phrase(part)` or `visitor.choice(part)`. A choice's alternatives are the
/// visitor's to walk, all of them or one that is drawn. Every kind of part has its case
/// here, and the compiler makes a new kind fail the build until it has one.
template <typename Visitor> void visitParts(const ShapeRow& row, Visitor&& visitor) {
    for (const ShapePart& part : row) {
        switch (part.kind) {
        case ShapePart::Kind::Word:
            visitor.word(part);
            break;
        case ShapePart::Kind::Phrase:
            visitor.phrase(part);
            break;
        case ShapePart::Kind::Choice:
            visitor.choice(part);
            break;
        }
    }
}

/// A sentence shape: one line of mallar.txt, or one of the eleven built-in templates.
struct SentenceShape {
    int number = 0;         ///< 1, 2, ... in the order of the shape lines, faulty ones counted
    int line = 0;           ///< its line in its file
    int weight = 1;         ///< 1..MaxShapeWeight
    ShapeRow parts;         ///< empty when read without them (see partsOf)
    std::size_t at = 0;     ///< where its line starts in the file's text
    std::size_t length = 0; ///< and how long it is
};

/// A line of mallar.txt that is not used, and why.
struct ShapeFault {
    int line = 0;
    int number = 0;      ///< the number the shape on it would have had
    std::u16string what; ///< in Swedish, as after "mallar.txt rad N: "
};

inline constexpr int MaxShapeWeight = 1000;
/// Choices inside choices, counted from the outermost.
inline constexpr int MaxShapeDepth = 8;

/// The shapes of one reading of mallar.txt (or the built-in ones), and its faulty lines.
struct ShapeBook {
    std::vector<SentenceShape> shapes; ///< the usable ones, in order
    std::vector<ShapeFault> faults;
    int numbered = 0; ///< shape lines, faulty ones included
    std::uint64_t totalWeight = 0;
    bool builtin = false; ///< the eleven built-in templates

    /// The usable shape numbered `number`, or null.
    const SentenceShape* find(int number) const;
};

/// The shapes written in `text`, the decoded contents of a mallar.txt. A shape may give at
/// most SentenceBuffer::SpokenSlots words and phrases. Without `withParts` every line is
/// checked and weighed but no shape keeps its parts: partsOf() reads them for the one a
/// sentence is drawn from.
ShapeBook parseShapes(std::u16string_view text, bool withParts = true);

/// The parts of `shape`, read again from `text` (the text it was read from) when the shape
/// was read without them.
ShapeRow partsOf(std::u16string_view text, const SentenceShape& shape);

/// The text of the program's own shapes: the eleven templates, as examples/mallar.txt
/// writes them (that file is built into the program).
std::u16string_view builtinShapeText();
/// The eleven built-in templates, read from builtinShapeText() as any mallar.txt is read.
const ShapeBook& builtinShapes();

/// The word classes of the built-in templates, in the order the tools list them.
extern const std::vector<std::u16string> BuiltinClasses;

/// The recording of a fixed phrase: "sound/" + the phrase with each blank made "_" + ".wav".
std::u16string phraseSoundPath(std::u16string_view phrase);

/// The classes and the phrases a book's shapes use, each once, in the order first met (the
/// built-in book's classes in the order of BuiltinClasses).
struct ShapeVocabulary {
    std::vector<std::u16string> classes;
    std::vector<std::u16string> phrases;
};
ShapeVocabulary vocabularyOf(const ShapeBook& book);

/// The shape file of a data folder.
inline constexpr char16_t ShapeFileName[] = u"mallar.txt";

/// What one reading of a data folder's shapes gave.
struct ShapeFile {
    bool present = false; ///< a mallar.txt is there (readable or not)
    ListStatus status = ListStatus::Missing;
    ListEncoding encoding = ListEncoding::Utf8;
    ShapeBook parsed;    ///< the file's own shapes and faults; empty when it was not read
    std::u16string text; ///< the file's decoded text

    /// Whether the file gave any usable shape.
    bool own() const { return !parsed.shapes.empty(); }
    /// The shapes sentences are made from: the file's, or the built-in ones when it gave none.
    const ShapeBook& book() const { return own() ? parsed : builtinShapes(); }
    /// The text the book was read from.
    std::u16string_view bookText() const {
        return own() ? std::u16string_view(text) : builtinShapeText();
    }

    /// Every problem of this reading, one line each: the file that cannot be read, each
    /// faulty line, and that the built-in shapes are used when none is left.
    std::vector<std::u16string> problems() const;
};

/// Reads `dataDir`/mallar.txt afresh, with the word lists' encodings and size limit (see
/// parseShapes for `withParts`). Without the file, the built-in shapes and no problems.
ShapeFile readShapeFile(const std::filesystem::path& dataDir, bool withParts = true);

/// At most `limit` of `problems`, then how many more there are: a message for one box.
std::u16string problemsMessage(const std::vector<std::u16string>& problems, int limit = 10);

} // namespace brumlis
