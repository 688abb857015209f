#include "render.h"

#include "brumlis/audio/clipdecoder.h"
#include "brumlis/qtbridge/files.h"
#include "brumlis/sentence/sentencebuffer.h"
#include "brumlis/soundfiles/wavfile.h"
#include "brumlis/voicetools/sentencerender.h"
#include "qtcli.h"
#include "sentences.h"

#include <cstdio>
#include <unistd.h>

namespace brumlis {

namespace {

constexpr char kRenderUsage[] =
    "Användning: brumlis-cli [--data MAPP] render [--frö S] [--mall K] -o FIL.wav\n"
    "                        [--frekvens R] [--mono]\n"
    "\n"
    "Skriver en mening som en WAV-fil: ordens inspelningar omräknade och lagda efter\n"
    "varandra utan tystnad emellan, 16 bitar. Meningen skrivs ut.\n"
    "\n"
    "  -o FIL         filen att skriva; - skriver till standard ut (meningen då till standard "
    "fel)\n"
    "  --frö S        startvärde för slumpen: samma mening som generate --frö S (också --fro)\n"
    "  --mall K       använd mall K (1 till 11, eller form K i mallar.txt)\n"
    "  --frekvens R   samplingsfrekvens i Hz (standard: 48000)\n"
    "  --mono         en kanal i stället för två\n"
    "  --hjälp        visa den här hjälpen\n";

} // namespace

CliStatus runRender(const std::vector<std::u16string>& args, CliContext& context) {
    CommandLine parser;
    SentenceOptions sentence(false);
    sentence.addTo(parser);
    const int outputOption = parser.add({u"o", u"output"}, u"FIL");
    const int rateOption = parser.add(optionNames({"frekvens", "rate"}), u"R");
    const int monoOption = parser.add({u"mono"});
    const QString usage = QString::fromUtf8(kRenderUsage);
    if (const auto done = parseCommandLine(parser, args, context, core(usage)))
        return *done;
    if (const auto done = sentence.read(parser, context, core(usage)))
        return *done;
    auto usageError = [&](const QString& reason) {
        return reportUsageError(context, reason, usage);
    };
    Output& out = context.out;
    Output& err = context.err;

    int rate = 48000;
    if (parser.isSet(rateOption)) {
        const auto r =
            parseInteger(parser.value(rateOption), ClipDecoder::MinRate, ClipDecoder::MaxRate);
        if (!r)
            return usageError(QStringLiteral("samplingsfrekvensen måste vara %1 till %2 Hz: %3")
                                  .arg(ClipDecoder::MinRate)
                                  .arg(ClipDecoder::MaxRate)
                                  .arg(valueOf(parser, rateOption)));
        rate = int(*r);
    }
    if (!parser.isSet(outputOption) || parser.value(outputOption).empty())
        return usageError(QStringLiteral("-o FIL krävs"));
    const QString target = valueOf(parser, outputOption);
    const bool toStdout = target == u"-";
    if (toStdout && ::isatty(::fileno(out.stream())))
        return usageError(QStringLiteral("skriver inte ljud till en terminal; ange -o FIL.wav"));
    const int channels = parser.isSet(monoOption) ? 1 : 2;

    SentenceSource sentences(sentence, context);
    SentenceBuffer buffer;
    bool complete = sentences.next(buffer);
    // With the sound on standard output, the sentence must not end up inside it.
    Output& sentenceOut = toStdout ? err : out;
    sentenceOut.write(sentenceLine(buffer) + u'\n');
    sentenceOut.flush();

    const RenderedSentence rendered =
        SentenceRenderer(dataDirOf(context), rate, channels).render(buffer);
    for (const QString& word : rendered.unplayable)
        write(err,
              QStringLiteral("render: \"%1\" har ingen inspelning som kan spelas\n").arg(word));
    complete &= rendered.unplayable.isEmpty();
    if (rendered.wav.isEmpty()) {
        write(err, QStringLiteral("render: kan inte göra en WAV-fil\n"));
        return CliIncomplete;
    }
    if (toStdout) {
        write(out, QByteArrayView(rendered.wav));
        out.flush();
    } else if (QString why; !writeFileAtomically(target, rendered.wav, &why)) {
        write(err, QStringLiteral("render: kan inte skriva %1: %2\n").arg(target, why));
        return CliIncomplete;
    }
    return complete ? CliOk : CliIncomplete;
}

} // namespace brumlis
