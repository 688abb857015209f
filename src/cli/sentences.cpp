#include "sentences.h"

#include "brumlis/sentence/sentencebuffer.h"
#include "brumlis/sentence/templates.h"
#include "output.h"

#include <QCommandLineParser>
#include <QStringList>

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
    , m_countOption(QStringLiteral("count"), {}, QStringLiteral("N"))
    , m_seedOption(QStringLiteral("seed"), {}, QStringLiteral("S"))
    , m_templateOption(QStringLiteral("template"), {}, QStringLiteral("K")) {}

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
        const auto k = parseInteger(parser.value(m_templateOption), 1, TemplateCount);
        if (!k)
            return usageError(QStringLiteral("mallen måste vara 1 till 11: %1")
                                  .arg(parser.value(m_templateOption)));
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

int slotsUsed(const SentenceBuffer& buffer) {
    return Templates[std::size_t(buffer.TemplateNo - 1)].slotCount;
}

QString sentenceLine(const SentenceBuffer& buffer) {
    QStringList texts;
    for (int k = 0; k < slotsUsed(buffer); ++k)
        texts << buffer.WordText(k);
    return texts.join(u' ');
}

} // namespace brumlis
