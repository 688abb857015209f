#include "brumlis/sentence/shapes.h"

#include "brumlis/sentence/templates.h"

#include <QSet>
#include <algorithm>
#include <optional>

namespace brumlis {

namespace {

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\f' || c == u'\v';
}

bool isControl(QChar c) {
    return c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() < 0xa0);
}

QString shown(QChar c) {
    if (!isControl(c))
        return u'"' + QString(c) + u'"';
    return QStringLiteral("U+%1").arg(c.unicode(), 4, 16, QChar(u'0')).toUpper();
}

/// Reads the parts of one shape line, or says in Swedish what is wrong with it. Choices
/// are read by recursion, which never goes deeper than MaxShapeDepth.
/// The names and phrases of one file, each kept once: a file repeats the same few many
/// times, and a shared string costs no allocation.
class Names {
public:
    QString operator()(QStringView text) {
        for (const QString& known : m_known)
            if (known == text)
                return known;
        QString fresh = text.toString();
        if (m_known.size() < 64)
            m_known.push_back(fresh);
        return fresh;
    }

private:
    std::vector<QString> m_known;
};

/// Reads one shape line, or says in Swedish what is wrong with it. With `build` it keeps the
/// parts; without, it only checks them and counts them, which is all a sentence needs of
/// the shapes it does not draw. Choices are read by recursion, never deeper than
/// MaxShapeDepth.
class LineReader {
public:
    LineReader(QStringView line, Names* build)
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
            m_fault = QStringLiteral("mallen har inga delar");
            return std::nullopt;
        }
        if (most > MaxShapeParts) {
            m_fault = QStringLiteral("mallen kan ge %1 delar, men högst %2 sägs")
                          .arg(most > 999 ? QStringLiteral("fler än 999") : QString::number(most))
                          .arg(MaxShapeParts);
            return std::nullopt;
        }
        return weight;
    }

    const QString& fault() const { return m_fault; }

private:
    bool fail(const QString& what) {
        m_fault = what;
        return false;
    }

    void skipBlanks() {
        while (m_pos < m_line.size() && isBlank(m_line[m_pos]))
            ++m_pos;
    }

    // "N:" before the parts; the first word of the line is a weight when it ends in a colon.
    bool readWeight(int& weight) {
        skipBlanks();
        qsizetype end = m_pos;
        while (end < m_line.size() && !isBlank(m_line[end]) && m_line[end] != u'[' &&
               m_line[end] != u'"' && m_line[end] != u'(' && m_line[end] != u':')
            ++end;
        if (end >= m_line.size() || m_line[end] != u':')
            return true;
        const QStringView digits = m_line.sliced(m_pos, end - m_pos);
        bool ok = digits.size() <= 4 &&
                  std::all_of(digits.begin(), digits.end(), [](QChar c) { return c.isDigit(); });
        const int value = ok ? digits.toInt(&ok) : 0;
        if (!ok || value < 1 || value > MaxShapeWeight)
            return fail(QStringLiteral("vikten \"%1\" ska vara ett heltal från 1 till %2")
                            .arg(digits.left(20))
                            .arg(MaxShapeWeight));
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
            const QChar c = m_line[m_pos];
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
                return fail(QStringLiteral("\")\" stänger en parentes som aldrig öppnades"));
            } else if (c == u'|') {
                return fail(QStringLiteral("\"|\" står utanför en parentes"));
            } else {
                return fail(QStringLiteral("%1 är ingen del: skriv [klass], \"fras\" eller "
                                           "( A | B )")
                                .arg(shown(c)));
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
        const qsizetype close = m_line.indexOf(QChar(closing), m_pos + 1);
        if (close < 0)
            return fail(isClass ? QStringLiteral("\"[\" stängs aldrig med \"]\"")
                                : QStringLiteral("ett citattecken stängs aldrig"));
        QStringView name = m_line.sliced(m_pos + 1, close - m_pos - 1);
        if (isClass)
            name = name.trimmed();
        if (name.trimmed().isEmpty())
            return fail(isClass ? QStringLiteral("ett klassnamn är tomt")
                                : QStringLiteral("en fras är tom"));
        bool climbs = false;
        bool control = false;
        for (qsizetype i = 0; i < name.size(); ++i) {
            const QChar c = name[i];
            climbs = climbs || c == u'/' || c == u'\\' ||
                     (isClass && c == u'.' && i + 1 < name.size() && name[i + 1] == u'.');
            control = control || isControl(c);
        }
        const QString what = isClass ? QStringLiteral("klassnamnet") : QStringLiteral("frasen");
        if (climbs)
            return fail(QStringLiteral("%1 \"%2\" får inte innehålla %3")
                            .arg(what, name.left(40),
                                 isClass ? QStringLiteral("/, \\ eller ..")
                                         : QStringLiteral("/ eller \\")));
        if (control)
            return fail(
                QStringLiteral("%1 \"%2\" innehåller ett styrtecken").arg(what, name.left(40)));
        if (m_names) {
            part.kind = kind;
            part.text = (*m_names)(name);
        }
        m_pos = close + 1;
        return true;
    }

    bool readChoice(ShapePart& part, int depth, int& most) {
        if (depth > MaxShapeDepth)
            return fail(
                QStringLiteral("parenteserna ligger i fler än %1 nivåer").arg(MaxShapeDepth));
        part.kind = ShapePart::Kind::Choice;
        most = 0;
        ++m_pos; // "("
        for (;;) {
            ShapeRow alternative;
            int gives = 0;
            if (!readRow(alternative, depth, gives))
                return false;
            if (m_pos >= m_line.size())
                return fail(QStringLiteral("\"(\" stängs aldrig med \")\""));
            if (gives == 0)
                return fail(QStringLiteral("ett alternativ är tomt"));
            most = std::max(most, gives);
            if (m_names)
                part.alternatives.push_back(std::move(alternative));
            if (m_line[m_pos++] == u')')
                return true;
        }
    }

    QStringView m_line;
    Names* m_names; ///< null: check and count only
    qsizetype m_pos = 0;
    QString m_fault;
};

void collect(const ShapeRow& row, QSet<QString>& seenClasses, QSet<QString>& seenPhrases,
             ShapeVocabulary& out) {
    for (const ShapePart& part : row) {
        if (part.kind == ShapePart::Kind::Choice) {
            for (const ShapeRow& alternative : part.alternatives)
                collect(alternative, seenClasses, seenPhrases, out);
        } else if (part.kind == ShapePart::Kind::Word) {
            if (!seenClasses.contains(part.text)) {
                seenClasses.insert(part.text);
                out.classes << part.text;
            }
        } else if (!seenPhrases.contains(part.text)) {
            seenPhrases.insert(part.text);
            out.phrases << part.text;
        }
    }
}

} // namespace

const SentenceShape* ShapeBook::find(int number) const {
    const auto found = std::find_if(shapes.begin(), shapes.end(), [number](const SentenceShape& s) {
        return s.number == number;
    });
    return found == shapes.end() ? nullptr : &*found;
}

ShapeBook parseShapes(QStringView text, bool withParts) {
    ShapeBook book;
    Names names;
    int lineNo = 0;
    qsizetype pos = 0;
    while (pos < text.size()) {
        const qsizetype begin = pos;
        qsizetype end = pos;
        while (end < text.size() && text[end] != u'\n' && text[end] != u'\r')
            ++end;
        const QStringView line = text.sliced(begin, end - begin);
        ++lineNo;
        pos = end;
        if (pos < text.size() && text[pos] == u'\r')
            ++pos;
        if (end < text.size() && text[end] == u'\r' && pos < text.size() && text[pos] == u'\n')
            ++pos;
        else if (end < text.size() && text[end] == u'\n')
            ++pos;

        const QStringView content = line.trimmed();
        if (content.isEmpty() || content.front() == u'#')
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

ShapeRow partsOf(QStringView text, const SentenceShape& shape) {
    if (!shape.parts.empty())
        return shape.parts;
    Names names;
    ShapeRow parts;
    LineReader reader(text.sliced(shape.at, shape.length), &names);
    reader.read(parts);
    return parts;
}

const ShapeBook& builtinShapes() {
    static const ShapeBook book = [] {
        ShapeBook b;
        b.builtin = true;
        for (const SentenceTemplate& t : Templates) {
            SentenceShape shape;
            shape.number = ++b.numbered;
            for (int k = 0; k < t.slotCount; ++k) {
                const TemplateSlot& slot = t.slots[std::size_t(k)];
                ShapePart part;
                part.kind = slot.isPhrase() ? ShapePart::Kind::Phrase : ShapePart::Kind::Word;
                part.text = slot.text.toString();
                shape.parts.push_back(std::move(part));
            }
            b.totalWeight += 1;
            b.shapes.push_back(std::move(shape));
        }
        return b;
    }();
    return book;
}

QString phraseSoundPath(QStringView phrase) {
    QString name = phrase.toString();
    name.replace(u' ', u'_');
    return QStringLiteral("sound/") + name + QStringLiteral(".wav");
}

ShapeVocabulary vocabularyOf(const ShapeBook& book) {
    ShapeVocabulary vocabulary;
    if (book.builtin) {
        // In the order the tools have always listed them.
        for (const QStringView wordClass : WordClasses)
            vocabulary.classes << wordClass.toString();
        for (const TemplateSlot& phrase : FixedPhrases)
            vocabulary.phrases << phrase.text.toString();
        return vocabulary;
    }
    QSet<QString> classes;
    QSet<QString> phrases;
    for (const SentenceShape& shape : book.shapes)
        collect(shape.parts, classes, phrases, vocabulary);
    return vocabulary;
}

QStringList ShapeFile::problems() const {
    QStringList found;
    const QString name = QString::fromUtf16(ShapeFileName);
    if (!present)
        return found;
    if (status != ListStatus::Ok)
        return {name + u' ' + problemText(status) +
                QStringLiteral("; de elva inbyggda mallarna används")};
    for (const ShapeFault& fault : parsed.faults)
        found << QStringLiteral("%1 rad %2: %3").arg(name).arg(fault.line).arg(fault.what);
    if (parsed.shapes.empty())
        found << name + QStringLiteral(" har ingen mall som kan användas; de elva inbyggda "
                                       "mallarna används");
    return found;
}

ShapeFile readShapeFile(const QString& dataDir, bool withParts) {
    const QString name = QString::fromUtf16(ShapeFileName);
    ShapeFile file;
    ListBuffers buffers;
    file.status =
        readListFile(dataDir.isEmpty() ? name : dataDir + u'/' + name, buffers, &file.encoding);
    file.present = file.status != ListStatus::Missing;
    if (file.status == ListStatus::Ok) {
        file.text = std::move(buffers.text);
        file.parsed = parseShapes(file.text, withParts);
    }
    return file;
}

QString problemsMessage(const QStringList& problems, int limit) {
    QStringList shown = problems.mid(0, limit);
    if (problems.size() > limit) {
        const qsizetype more = problems.size() - limit;
        shown << (more == 1 ? QStringLiteral("… och 1 fel till")
                            : QStringLiteral("… och %1 fel till").arg(more));
    }
    return shown.join(u'\n');
}

} // namespace brumlis
