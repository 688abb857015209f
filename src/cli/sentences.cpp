#include "sentences.h"

#include "brumlis/sentence/sentencebuffer.h"
#include "brumlis/sentence/shapes.h"
#include "output.h"

#include <QCommandLineParser>
#include <QStringList>
#include <algorithm>

namespace brumlis {

namespace {

// Any 64-bit number, negative ones taken as their two's complement.
std::optional<std::uint64_t> parseSeed(const QString& text) {
    bool ok = false;
    if (const qulonglong value = text.toULongLong(&ok); ok)
        return value;
    if (const qlonglong value = text.toLongLong(&ok); ok)
        return std::uint64_t(value);
    return std::nullopt;
}

} // namespace

SentenceOptions::SentenceOptions(bool withCount)
    : m_withCount(withCount)
    , m_countOption(optionNames({"antal", "count"}), {}, QStringLiteral("N"))
    , m_seedOption(optionNames({"frö", "fro", "seed"}), {}, QStringLiteral("S"))
    , m_templateOption(optionNames({"mall", "template"}), {}, QStringLiteral("K")) {}

QList<QCommandLineOption> SentenceOptions::options() const {
    if (m_withCount)
        return {m_countOption, m_seedOption, m_templateOption};
    return {m_seedOption, m_templateOption};
}

std::optional<CliStatus> SentenceOptions::read(const QCommandLineParser& parser,
                                               CliContext& context, const QString& usage) {
    auto usageError = [&](const QString& reason) {
        return std::optional<CliStatus>(reportUsageError(context, reason, usage));
    };
    if (m_withCount && parser.isSet(m_countOption)) {
        const auto n = parseInteger(parser.value(m_countOption), 0, 1'000'000'000);
        if (!n)
            return usageError(
                QStringLiteral("ogiltigt antal: %1").arg(parser.value(m_countOption)));
        m_count = *n;
    }
    if (parser.isSet(m_seedOption)) {
        m_seed = parseSeed(parser.value(m_seedOption));
        if (!m_seed)
            return usageError(
                QStringLiteral("ogiltigt startvärde: %1").arg(parser.value(m_seedOption)));
    }
    if (parser.isSet(m_templateOption)) {
        // The folder's own shapes are numbered by their lines; without them, 1 to 11.
        const ShapeFile shapes = readShapeFile(context.dataDir);
        const ShapeBook& book = shapes.book();
        const QString value = parser.value(m_templateOption);
        const auto k = parseInteger(value, 1, book.numbered);
        if (!k)
            return usageError(
                QStringLiteral("mallen måste vara 1 till %1: %2").arg(book.numbered).arg(value));
        if (!book.find(int(*k))) {
            const auto fault =
                std::find_if(book.faults.begin(), book.faults.end(),
                             [&](const ShapeFault& f) { return f.number == int(*k); });
            return usageError(QStringLiteral("mall %1 kan inte användas: %2 rad %3: %4")
                                  .arg(*k)
                                  .arg(QString::fromUtf16(ShapeFileName))
                                  .arg(fault->line)
                                  .arg(fault->what));
        }
        m_forcedTemplate = int(*k);
    }
    return std::nullopt;
}

std::optional<long long> parseInteger(const QString& text, long long min, long long max) {
    bool ok = false;
    const long long value = text.toLongLong(&ok);
    if (!ok || value < min || value > max)
        return std::nullopt;
    return value;
}

void OutputMessages::show(const QString& message) {
    m_err.write(message + u'\n');
    m_err.flush();
}

SentenceSource::SentenceSource(const SentenceOptions& options, CliContext& context)
    : m_messages(context.err)
    , m_composer(context.dataDir, m_messages, m_random, options.seed() ? nullptr : &m_clock)
    , m_forcedTemplate(options.forcedTemplate()) {
    if (options.seed())
        m_random.seed(*options.seed());
}

bool SentenceSource::next(SentenceBuffer& buffer) {
    return m_composer.compose(buffer, m_forcedTemplate);
}

QString sentenceLine(const SentenceBuffer& buffer) {
    QStringList texts;
    for (int k = 0; k < buffer.SlotsUsed; ++k)
        texts << buffer.WordText(k);
    return texts.join(u' ');
}

} // namespace brumlis
