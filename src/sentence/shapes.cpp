#include "brumlis/sentence/shapes.h"

#include "brumlis/text/text.h"

#include <algorithm>
#include <optional>
#include <set>

namespace brumlis {

namespace {

bool isShapeBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\f' || c == u'\v';
}

bool isControl(char16_t c) {
    return c < 0x20 || (c >= 0x7f && c < 0xa0);
}

std::u16string shown(char16_t c) {
    if (!isControl(c))
        return u'"' + std::u16string(1, c) + u'"';
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::u16string code = u"U+";
    for (int shift = 12; shift >= 0; shift -= 4)
        code += char16_t(Hex[(c >> shift) & 0xF]);
    return code;
}

// At most `n` units of `text`, as a message quotes a name.
std::u16string_view left(std::u16string_view text, std::size_t n) {
    return text.substr(0, std::min(n, text.size()));
}

/// Reads the parts of one shape line, or says in Swedish what is wrong with it. Choices
/// are read by recursion, which never goes deeper than MaxShapeDepth.
/// The names and phrases of one file, each kept once: a file repeats the same few many
/// times, and a shared string costs no allocation.
class Names {
public:
    std::u16string operator()(std::u16string_view text) {
        for (const std::u16string& known : m_known)
            if (known == text)
                return known;
        std::u16string fresh(text);
        if (m_known.size() < 64)
            m_known.push_back(fresh);
        return fresh;
    }

private:
    std::vector<std::u16string> m_known;
};

/// Reads one shape line, or says in Swedish what is wrong with it. With `build` it keeps the
/// parts; without, it only checks them and counts them, which is all a sentence needs of
/// the shapes it does not draw. Choices are read by recursion, never deeper than
/// MaxShapeDepth.
class LineReader {
public:
    LineReader(std::u16string_view line, Names* build)
        : m_line(line)
        , m_names(build) {}

    /// The shape's weight, with its parts in `parts` when building; nothing, with fault()
    /// saying why, when the line is not a shape.
    std::optional<int> read(ShapeRow& parts) {
        int weight = 1;
        if (!readWeight(weight))
            return std::nullopt;
        int most = 0;
        if (!readRow(parts, 0, most))
            return std::nullopt;
        if (most == 0) {
            m_fault = u"mallen har inga delar";
            return std::nullopt;
        }
        if (most > SentenceBuffer::SpokenSlots) {
            m_fault = u"mallen kan ge " + (most > 999 ? u"fler än 999" : number(most)) +
                      u" delar, men högst " + number(SentenceBuffer::SpokenSlots) + u" sägs";
            return std::nullopt;
        }
        return weight;
    }

    const std::u16string& fault() const { return m_fault; }

private:
    bool fail(const std::u16string& what) {
        m_fault = what;
        return false;
    }

    void skipBlanks() {
        while (m_pos < m_line.size() && isShapeBlank(m_line[m_pos]))
            ++m_pos;
    }

    // "N:" before the parts; the first word of the line is a weight when it ends in a colon.
    bool readWeight(int& weight) {
        skipBlanks();
        std::size_t end = m_pos;
        while (end < m_line.size() && !isShapeBlank(m_line[end]) && m_line[end] != u'[' &&
               m_line[end] != u'"' && m_line[end] != u'(' && m_line[end] != u':')
            ++end;
        if (end >= m_line.size() || m_line[end] != u':')
            return true;
        const std::u16string_view digits = m_line.substr(m_pos, end - m_pos);
        const bool ok = !digits.empty() && digits.size() <= 4 &&
                        std::all_of(digits.begin(), digits.end(),
                                    [](char16_t c) { return c >= u'0' && c <= u'9'; });
        int value = 0;
        for (const char16_t c : ok ? digits : std::u16string_view())
            value = value * 10 + (c - u'0');
        if (!ok || value < 1 || value > MaxShapeWeight)
            return fail(u"vikten \"" + std::u16string(left(digits, 20)) +
                        u"\" ska vara ett heltal från 1 till " + number(MaxShapeWeight));
        weight = value;
        m_pos = end + 1;
        return true;
    }

    // Parts up to the end of the line or, inside a choice, up to its "|" or ")"; `most` is
    // the largest number of parts they can give (it stops counting past MaxShapeParts).
    bool readRow(ShapeRow& row, int depth, int& most) {
        for (;;) {
            skipBlanks();
            if (m_pos >= m_line.size())
                return true;
            const char16_t c = m_line[m_pos];
            if (depth > 0 && (c == u'|' || c == u')'))
                return true;
            ShapePart part;
            int gives = 1;
            if (c == u'[') {
                if (!readName(part, ShapePart::Kind::Word, u']'))
                    return false;
            } else if (c == u'"') {
                if (!readName(part, ShapePart::Kind::Phrase, u'"'))
                    return false;
            } else if (c == u'(') {
                if (!readChoice(part, depth + 1, gives))
                    return false;
            } else if (c == u')') {
                return fail(u"\")\" stänger en parentes som aldrig öppnades");
            } else if (c == u'|') {
                return fail(u"\"|\" står utanför en parentes");
            } else {
                return fail(shown(c) + u" är ingen del: skriv [klass], \"fras\" eller ( A | B )");
            }
            most = std::min(most + gives, 1000);
            if (m_names)
                row.push_back(std::move(part));
        }
    }

    // A class, "[name]", or a phrase, "\"text\"": both name a file, in text/ or sound/, and
    // must not lead out of it.
    bool readName(ShapePart& part, ShapePart::Kind kind, char16_t closing) {
        const bool isClass = kind == ShapePart::Kind::Word;
        const std::size_t close = m_line.find(closing, m_pos + 1);
        if (close == std::u16string_view::npos)
            return fail(isClass ? u"\"[\" stängs aldrig med \"]\""
                                : u"ett citattecken stängs aldrig");
        std::u16string_view name = m_line.substr(m_pos + 1, close - m_pos - 1);
        if (isClass)
            name = trimmed(name);
        if (trimmed(name).empty())
            return fail(isClass ? u"ett klassnamn är tomt" : u"en fras är tom");
        bool climbs = false;
        bool control = false;
        for (std::size_t i = 0; i < name.size(); ++i) {
            const char16_t c = name[i];
            climbs = climbs || c == u'/' || c == u'\\' ||
                     (isClass && c == u'.' && i + 1 < name.size() && name[i + 1] == u'.');
            control = control || isControl(c);
        }
        const std::u16string what = isClass ? u"klassnamnet" : u"frasen";
        const std::u16string quotedName = u" \"" + std::u16string(left(name, 40)) + u"\"";
        if (climbs)
            return fail(what + quotedName + u" får inte innehålla " +
                        (isClass ? u"/, \\ eller .." : u"/ eller \\"));
        if (control)
            return fail(what + quotedName + u" innehåller ett styrtecken");
        if (m_names) {
            part.kind = kind;
            part.text = (*m_names)(name);
        }
        m_pos = close + 1;
        return true;
    }

    bool readChoice(ShapePart& part, int depth, int& most) {
        if (depth > MaxShapeDepth)
            return fail(u"parenteserna ligger i fler än " + number(MaxShapeDepth) + u" nivåer");
        part.kind = ShapePart::Kind::Choice;
        most = 0;
        ++m_pos; // "("
        for (;;) {
            ShapeRow alternative;
            int gives = 0;
            if (!readRow(alternative, depth, gives))
                return false;
            if (m_pos >= m_line.size())
                return fail(u"\"(\" stängs aldrig med \")\"");
            if (gives == 0)
                return fail(u"ett alternativ är tomt");
            most = std::max(most, gives);
            if (m_names)
                part.alternatives.push_back(std::move(alternative));
            if (m_line[m_pos++] == u')')
                return true;
        }
    }

    std::u16string_view m_line;
    Names* m_names; ///< null: check and count only
    std::size_t m_pos = 0;
    std::u16string m_fault;
};

// The classes and phrases of every alternative, each once.
struct Collector {
    std::set<std::u16string> seenClasses;
    std::set<std::u16string> seenPhrases;
    ShapeVocabulary& out;

    void word(const ShapePart& part) {
        if (seenClasses.insert(part.text).second)
            out.classes.push_back(part.text);
    }
    void phrase(const ShapePart& part) {
        if (seenPhrases.insert(part.text).second)
            out.phrases.push_back(part.text);
    }
    void choice(const ShapePart& part) {
        for (const ShapeRow& alternative : part.alternatives)
            visitParts(alternative, *this);
    }
};

} // namespace

const SentenceShape* ShapeBook::find(int number) const {
    const auto found = std::find_if(shapes.begin(), shapes.end(), [number](const SentenceShape& s) {
        return s.number == number;
    });
    return found == shapes.end() ? nullptr : &*found;
}

ShapeBook parseShapes(std::u16string_view text, bool withParts) {
    ShapeBook book;
    Names names;
    int lineNo = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t begin = pos;
        std::size_t end = pos;
        while (end < text.size() && text[end] != u'\n' && text[end] != u'\r')
            ++end;
        const std::u16string_view line = text.substr(begin, end - begin);
        ++lineNo;
        pos = end;
        if (pos < text.size() && text[pos] == u'\r')
            ++pos;
        if (end < text.size() && text[end] == u'\r' && pos < text.size() && text[pos] == u'\n')
            ++pos;
        else if (end < text.size() && text[end] == u'\n')
            ++pos;

        const std::u16string_view content = trimmed(line);
        if (content.empty() || content.front() == u'#')
            continue;
        const int number = ++book.numbered;
        ShapeRow parts;
        LineReader reader(line, withParts ? &names : nullptr);
        if (const std::optional<int> weight = reader.read(parts)) {
            book.totalWeight += std::uint64_t(*weight);
            book.shapes.push_back({number, lineNo, *weight, std::move(parts), begin, line.size()});
        } else {
            book.faults.push_back({lineNo, number, reader.fault()});
        }
    }
    return book;
}

ShapeRow partsOf(std::u16string_view text, const SentenceShape& shape) {
    if (!shape.parts.empty())
        return shape.parts;
    Names names;
    ShapeRow parts;
    LineReader reader(text.substr(shape.at, shape.length), &names);
    reader.read(parts);
    return parts;
}

const ShapeBook& builtinShapes() {
    static const ShapeBook book = [] {
        ShapeBook b = parseShapes(builtinShapeText());
        b.builtin = true;
        return b;
    }();
    return book;
}

const std::vector<std::u16string> BuiltinClasses = {
    u"namn",      u"adj",      u"adj_neu",  u"färg", u"sub",   u"sub_neu",
    u"sub_reale", u"verb_pre", u"verb_per", u"prep", u"plats",
};

std::u16string phraseSoundPath(std::u16string_view phrase) {
    return u"sound/" + replaced(std::u16string(phrase), u' ', u'_') + u".wav";
}

ShapeVocabulary vocabularyOf(const ShapeBook& book) {
    ShapeVocabulary vocabulary;
    Collector collector{{}, {}, vocabulary};
    for (const SentenceShape& shape : book.shapes)
        visitParts(shape.parts, collector);
    // In the order the tools have always listed them.
    if (book.builtin)
        vocabulary.classes = BuiltinClasses;
    return vocabulary;
}

std::vector<std::u16string> ShapeFile::problems() const {
    std::vector<std::u16string> found;
    const std::u16string name = ShapeFileName;
    if (!present)
        return found;
    if (status != ListStatus::Ok)
        return {name + u' ' + problemText(status) + u"; de elva inbyggda mallarna används"};
    for (const ShapeFault& fault : parsed.faults)
        found.push_back(name + u" rad " + number(fault.line) + u": " + fault.what);
    if (parsed.shapes.empty())
        found.push_back(name +
                        u" har ingen mall som kan användas; de elva inbyggda mallarna används");
    return found;
}

ShapeFile readShapeFile(const std::filesystem::path& dataDir, bool withParts) {
    ShapeFile file;
    ListBuffers buffers;
    file.status = readListFile(dataDir / ShapeFileName, buffers, &file.encoding);
    file.present = file.status != ListStatus::Missing;
    if (file.status == ListStatus::Ok) {
        file.text = std::move(buffers.text);
        file.parsed = parseShapes(file.text, withParts);
    }
    return file;
}

std::u16string problemsMessage(const std::vector<std::u16string>& problems, int limit) {
    std::vector<std::u16string> shown(
        problems.begin(),
        problems.begin() + std::min<std::ptrdiff_t>(limit, std::ptrdiff_t(problems.size())));
    if (problems.size() > std::size_t(limit))
        shown.push_back(u"… och " + number(std::int64_t(problems.size()) - limit) + u" fel till");
    return joined(shown, u"\n");
}

} // namespace brumlis
