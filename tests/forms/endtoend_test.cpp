// The real program on a private X server, driven and watched only through the screen, as a
// person would: its window comes up under its caption at its size, showing the prompt, and
// a click on Generera leaves a sentence in the label and Repetera enabled.
#include "brumlis/forms/layout.h"
#include "support/soundserver.h"
#include "support/windowprocess.h"

#include <QSet>
#include <cstring>
#include <gtest/gtest.h>

namespace brumlis {
namespace {

/// How many colours a picture of 32-bit pixels holds.
qsizetype colours(const QByteArray& pixels) {
    QSet<quint32> seen;
    for (qsizetype i = 0; i + 4 <= pixels.size(); i += 4) {
        quint32 pixel = 0;
        std::memcpy(&pixel, pixels.constData() + i, 4);
        seen.insert(pixel & 0xffffff);
    }
    return seen.size();
}

TEST(EndToEnd, GenereraLeavesASentenceAndEnablesRepetera) {
    // No sound server here: the program speaks through SDL's silent driver at the pace of
    // its recordings.
    test::EnvironmentOverride env;
    env.set("SDL_AUDIODRIVER", QStringLiteral("dummy"));
    env.set("PULSE_SERVER", QStringLiteral("unix:/nonexistent"));
    test::XDisplay display;
    QString why;
    ASSERT_TRUE(display.start(&why)) << why.toStdString();
    test::WindowProcess brumlis(display, QStringLiteral(BRUMLIS_BIN), QStringLiteral(BRUMLIS_DATA));
    ASSERT_TRUE(brumlis.painted()) << "the window never showed: " << brumlis.log().toStdString();
    EXPECT_EQ(display.title(brumlis.window()), QStringLiteral(" Brumlis"));
    EXPECT_EQ(brumlis.frame().size(), layout::MainWindow);

    const QByteArray prompt = brumlis.picture(layout::SentenceLabel);
    EXPECT_GT(colours(prompt), 1) << "the label is blank at start";
    const QByteArray repeatDisabled = brumlis.picture(layout::RepeatButton);
    ASSERT_TRUE(brumlis.generate());
    // Repetera is enabled once the whole sentence has been spoken.
    ASSERT_TRUE(brumlis.untilChanged(layout::RepeatButton, repeatDisabled, 30000))
        << "Repetera never changed: " << brumlis.log().toStdString();
    const QByteArray sentence = brumlis.picture(layout::SentenceLabel);
    EXPECT_NE(sentence, prompt) << "the prompt is still there";
    EXPECT_GT(colours(sentence), 1) << "the label is blank after Generera";

    ASSERT_TRUE(brumlis.close().has_value()) << "still running 10 s after it was asked to end";
    EXPECT_TRUE(brumlis.endedNormally()) << brumlis.log().toStdString();
}

} // namespace
} // namespace brumlis
