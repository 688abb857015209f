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

QString shown(QChar c) {
    if (c.isPrint())
        return u'"' + QString(c) + u'"';
    return QStringLiteral("U+%1").arg(c.unicode(), 4, 16, QChar(u'0')).toUpper();
}

/// Reads the parts of one shape line, or says in Swedish what is wrong with it. Choices
/// are read by recursion, which never goes deeper than MaxShapeDepth.
class LineReader {
public:
    explicit LineReader(QStringView line)
        : m_line(line) {}

    /// The shape's weight and parts, or nothing with fault() saying why.
    std::optional<std::pair<int, ShapeRow>> read() {
        int weight = 1;
        if (!readWeight(weight))
            return std::nullopt;
        ShapeRow parts;
        if (!readRow(parts, 0))
            return std::nullopt;
        if (parts.empty()) {
            m_fault = QStringLiteral("mallen har inga delar");
            return std::nullopt;
        }
        if (const int most = maxPartsOf(parts); most > MaxShapeParts) {
            m_fault = QStringLiteral("mallen kan ge %1 delar, men högst %2 sägs")
                          .arg(most > 999 ? QStringLiteral("fler än 999") : QString::number(most))
                          .arg(MaxShapeParts);
            return std::nullopt;
        }
        return std::make_pair(weight, std::move(parts));
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

    // Parts up to the end of the line or, inside a choice, up to its "|" or ")".
    bool readRow(ShapeRow& row, int depth) {
        for (;;) {
            skipBlanks();
            if (m_pos >= m_line.size())
                return true;
            const QChar c = m_line[m_pos];
            if (depth > 0 && (c == u'|' || c == u')'))
                return true;
            ShapePart part;
            if (c == u'[') {
                if (!readClass(part))
                    return false;
            } else if (c == u'"') {
                if (!readPhrase(part))
                    return false;
            } else if (c == u'(') {
                if (!readChoice(part, depth + 1))
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
            row.push_back(std::move(part));
        }
    }

    bool readClass(ShapePart& part) {
        const qsizetype close = m_line.indexOf(u']', m_pos + 1);
        if (close < 0)
            return fail(QStringLiteral("\"[\" stängs aldrig med \"]\""));
        const QString name = m_line.sliced(m_pos + 1, close - m_pos - 1).trimmed().toString();
        if (name.isEmpty())
            return fail(QStringLiteral("ett klassnamn är tomt"));
        if (name.contains(u'/') || name.contains(u'\\') || name.contains(QStringLiteral("..")))
            return fail(QStringLiteral("klassnamnet \"%1\" får inte innehålla /, \\ eller ..")
                            .arg(name.left(40)));
        if (std::any_of(name.begin(), name.end(), [](QChar c) { return !c.isPrint(); }))
            return fail(
                QStringLiteral("klassnamnet \"%1\" innehåller ett styrtecken").arg(name.left(40)));
        part.kind = ShapePart::Kind::Word;
        part.text = name;
        m_pos = close + 1;
        return true;
    }

    bool readPhrase(ShapePart& part) {
        const qsizetype close = m_line.indexOf(u'"', m_pos + 1);
        if (close < 0)
            return fail(QStringLiteral("ett citattecken stängs aldrig"));
        const QString phrase = m_line.sliced(m_pos + 1, close - m_pos - 1).toString();
        if (phrase.trimmed().isEmpty())
            return fail(QStringLiteral("en fras är tom"));
        // The phrase names its recording in sound/: it must not lead out of it.
        if (phrase.contains(u'/') || phrase.contains(u'\\'))
            return fail(
                QStringLiteral("frasen \"%1\" får inte innehålla / eller \\").arg(phrase.left(40)));
        if (std::any_of(phrase.begin(), phrase.end(), [](QChar c) { return !c.isPrint(); }))
            return fail(
                QStringLiteral("frasen \"%1\" innehåller ett styrtecken").arg(phrase.left(40)));
        part.kind = ShapePart::Kind::Phrase;
        part.text = phrase;
        m_pos = close + 1;
        return true;
    }

    bool readChoice(ShapePart& part, int depth) {
        if (depth > MaxShapeDepth)
            return fail(
                QStringLiteral("parenteserna ligger i fler än %1 nivåer").arg(MaxShapeDepth));
        part.kind = ShapePart::Kind::Choice;
        ++m_pos; // "("
        for (;;) {
            ShapeRow alternative;
            if (!readRow(alternative, depth))
                return false;
            if (m_pos >= m_line.size())
                return fail(QStringLiteral("\"(\" stängs aldrig med \")\""));
            if (alternative.empty())
                return fail(QStringLiteral("ett alternativ är tomt"));
            part.alternatives.push_back(std::move(alternative));
            if (m_line[m_pos++] == u')')
                return true;
        }
    }

    QStringView m_line;
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

int maxPartsOf(const ShapeRow& row) {
    // Saturates: a shape only has to be known to be too long.
    constexpr int Enough = 1000;
    int total = 0;
    for (const ShapePart& part : row) {
        int most = 1;
        if (part.kind == ShapePart::Kind::Choice) {
            most = 0;
            for (const ShapeRow& alternative : part.alternatives)
                most = std::max(most, maxPartsOf(alternative));
        }
        total = std::min(Enough, total + most);
    }
    return total;
}

ShapeBook parseShapes(QStringView text) {
    ShapeBook book;
    int lineNo = 0;
    qsizetype pos = 0;
    while (pos < text.size()) {
        qsizetype end = pos;
        while (end < text.size() && text[end] != u'\n' && text[end] != u'\r')
            ++end;
        const QStringView line = text.sliced(pos, end - pos);
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
        LineReader reader(line);
        if (auto shape = reader.read()) {
            book.totalWeight += std::uint64_t(shape->first);
            book.shapes.push_back({number, lineNo, shape->first, std::move(shape->second)});
        } else {
            book.faults.push_back({lineNo, number, reader.fault()});
        }
    }
    return book;
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

ShapeFile readShapeFile(const QString& dataDir) {
    const QString name = QString::fromUtf16(ShapeFileName);
    ShapeFile file;
    ListBuffers buffers;
    file.status =
        readListFile(dataDir.isEmpty() ? name : dataDir + u'/' + name, buffers, &file.encoding);
    file.present = file.status != ListStatus::Missing;
    if (file.status == ListStatus::Ok)
        file.parsed = parseShapes(buffers.text);
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
