#pragma once

#include "brumlis/sentence/composer.h"
#include "brumlis/sentence/messagesink.h"
#include "brumlis/sentence/random.h"
#include "cli.h"

#include <cstdint>
#include <optional>
#include <string>

namespace brumlis {

class Output;
struct SentenceBuffer;

/// --frö S and --mall K, which every command that composes a sentence takes, and --antal N
/// for those that compose more than one. A command parses them with its own options and
/// reads them back here, so that each is checked and worded the same in all.
class SentenceOptions {
public:
    explicit SentenceOptions(bool withCount)
        : m_withCount(withCount) {}

    /// Adds the options to `parser`, before the command's own.
    void addTo(CommandLine& parser);

    /// Takes the values from `parser`, which has parsed them. A value that is not valid is a
    /// usage error (see reportUsageError): then the status to exit with.
    std::optional<CliStatus> read(const CommandLine& parser, CliContext& context,
                                  const std::u16string& usage);

    long long count() const { return m_count; }
    std::optional<std::uint64_t> seed() const { return m_seed; }
    /// A shape's number, or 0 to draw a shape for each sentence.
    int forcedTemplate() const { return m_forcedTemplate; }

private:
    bool m_withCount;
    int m_countOption = -1;
    int m_seedOption = -1;
    int m_templateOption = -1;
    long long m_count = 1;
    std::optional<std::uint64_t> m_seed;
    int m_forcedTemplate = 0;
};

/// `text` as a whole number from `min` to `max`; nothing when it is not one.
std::optional<long long> parseInteger(std::u16string_view text, long long min, long long max);

/// Failed picks go to stderr, one line each, as they happen.
class OutputMessages final : public MessageSink {
public:
    explicit OutputMessages(Output& err)
        : m_err(err) {}
    void show(const std::u16string& message) override;

private:
    Output& m_err;
};

/// The sentences of a run: seeded when --frö was given, so that the same seed gives the
/// same sentences in every command, and otherwise re-seeded from the clock at each one.
class SentenceSource {
public:
    SentenceSource(const SentenceOptions& options, CliContext& context);
    SentenceSource(const SentenceSource&) = delete;
    SentenceSource& operator=(const SentenceSource&) = delete;

    /// Composes the next sentence into `buffer`; false when a pick failed, which left
    /// its slot empty and was reported.
    bool next(SentenceBuffer& buffer);

private:
    OutputMessages m_messages;
    MersenneRandom m_random;
    SystemClock m_clock;
    SentenceComposer m_composer;
    int m_forcedTemplate;
};

/// The texts of the slots of `buffer`, separated by single blanks: a sentence as it is
/// printed.
std::u16string sentenceLine(const SentenceBuffer& buffer);

} // namespace brumlis
