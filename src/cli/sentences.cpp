#include "sentences.h"

#include "brumlis/sentence/sentencebuffer.h"
#include "brumlis/sentence/shapes.h"
#include "brumlis/text/text.h"
#include "output.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace brumlis {

namespace {

// Digits with an optional sign and blanks around them, as a number is typed.
std::optional<std::string> numberText(std::u16string_view text) {
    text = trimmed(text);
    std::string digits;
    for (const char16_t c : text) {
        if (c > 0x7f)
            return std::nullopt;
        digits += char(c);
    }
    if (!digits.empty() && digits.front() == '+')
        digits.erase(0, 1);
    if (digits.empty() || digits.front() == '+')
        return std::nullopt;
    return digits;
}

template <typename Integer> std::optional<Integer> parsed(const std::string& digits) {
    Integer value{};
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    return value;
}

// Any 64-bit number, negative ones taken as their two's complement.
std::optional<std::uint64_t> parseSeed(std::u16string_view text) {
    const std::optional<std::string> digits = numberText(text);
    if (!digits)
        return std::nullopt;
    if (digits->front() != '-')
        return parsed<std::uint64_t>(*digits);
    if (const auto value = parsed<long long>(*digits))
        return std::uint64_t(*value);
    return std::nullopt;
}

} // namespace

void SentenceOptions::addTo(CommandLine& parser) {
    if (m_withCount)
        m_countOption = parser.add(optionNames({"antal", "count"}), u"N");
    m_seedOption = parser.add(optionNames({"frö", "fro", "seed"}), u"S");
    m_templateOption = parser.add(optionNames({"mall", "template"}), u"K");
}

std::optional<CliStatus> SentenceOptions::read(const CommandLine& parser, CliContext& context,
                                               const std::u16string& usage) {
    auto usageError = [&](const std::u16string& reason) {
        return std::optional<CliStatus>(reportUsageError(context, reason, usage));
    };
    if (m_withCount && parser.isSet(m_countOption)) {
        const auto n = parseInteger(parser.value(m_countOption), 0, 1'000'000'000);
        if (!n)
            return usageError(u"ogiltigt antal: " + parser.value(m_countOption));
        m_count = *n;
    }
    if (parser.isSet(m_seedOption)) {
        m_seed = parseSeed(parser.value(m_seedOption));
        if (!m_seed)
            return usageError(u"ogiltigt startvärde: " + parser.value(m_seedOption));
    }
    if (parser.isSet(m_templateOption)) {
        // The folder's own shapes are numbered by their lines; without them, 1 to 11.
        const ShapeFile shapes = readShapeFile(context.dataDir);
        const ShapeBook& book = shapes.book();
        const std::u16string value = parser.value(m_templateOption);
        const auto k = parseInteger(value, 1, book.numbered);
        if (!k)
            return usageError(u"mallen måste vara 1 till " + number(book.numbered) + u": " + value);
        if (!book.find(int(*k))) {
            const auto fault =
                std::find_if(book.faults.begin(), book.faults.end(),
                             [&](const ShapeFault& f) { return f.number == int(*k); });
            return usageError(u"mall " + number(*k) + u" kan inte användas: " +
                              std::u16string(ShapeFileName) + u" rad " + number(fault->line) +
                              u": " + fault->what);
        }
        m_forcedTemplate = int(*k);
    }
    return std::nullopt;
}

std::optional<long long> parseInteger(std::u16string_view text, long long min, long long max) {
    const std::optional<std::string> digits = numberText(text);
    const std::optional<long long> value = digits ? parsed<long long>(*digits) : std::nullopt;
    if (!value || *value < min || *value > max)
        return std::nullopt;
    return value;
}

void OutputMessages::show(const std::u16string& message) {
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

std::u16string sentenceLine(const SentenceBuffer& buffer) {
    std::u16string line;
    for (int k = 0; k < buffer.SlotsUsed; ++k) {
        if (k > 0)
            line += u' ';
        line += buffer.WordText(k);
    }
    return line;
}

} // namespace brumlis
