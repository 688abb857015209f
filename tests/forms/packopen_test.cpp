// brumlis FIL.brumlis: the pack among the arguments, the question, and what each answer does.
#include "brumlis/packs/packwriter.h"
#include "brumlis/soundfiles/wavfile.h"
#include "packopen.h"
#include "support/tempdir.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

namespace brumlis {
namespace {

TEST(TakePackFile, TakesAnExistingPackAndLeavesTheRest) {
    const test::TempDir dir;
    dir.write(QStringLiteral("Mormor.brumlis"), "zip");
    dir.mkdir(QStringLiteral("mapp.brumlis"));
    const QString pack = dir.filePath(QStringLiteral("Mormor.brumlis"));
    const QString folder = dir.filePath(QStringLiteral("mapp.brumlis"));
    struct Case {
        QStringList arguments;
        std::optional<QString> taken;
        QStringList left;
    };
    const Case cases[] = {
        {{"brumlis", pack}, pack, {"brumlis"}},
        {{"brumlis", "--data", pack}, std::nullopt, {"brumlis", "--data", pack}},
        {{"brumlis", folder}, std::nullopt, {"brumlis", folder}},
        {{"brumlis", dir.filePath(QStringLiteral("saknas.brumlis"))},
         std::nullopt,
         {"brumlis", dir.filePath(QStringLiteral("saknas.brumlis"))}},
        {{"brumlis", "--", pack}, std::nullopt, {"brumlis", "--", pack}},
    };
    for (const Case& c : cases) {
        QStringList arguments = c.arguments;
        EXPECT_EQ(takePackFile(arguments), c.taken) << c.arguments.join(u' ').toStdString();
        EXPECT_EQ(arguments, c.left);
    }
}

// Answers the box that opens next with the button captioned `button`, noting its text and
// what it tells beneath it.
void answerNextBox(const QString& button, QString* text, QString* details) {
    QTimer::singleShot(0, [button, text, details] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_TRUE(box);
        *text = box->objectName() + u':' + box->text();
        *details = box->informativeText();
        for (QAbstractButton* b : box->buttons())
            if (b->text() == button)
                b->click();
        // A button that is not there fails the test instead of leaving the box open.
        if (box->isVisible()) {
            ADD_FAILURE() << "no button " << button.toStdString();
            box->reject();
        }
    });
}

TEST(OfferPack, TellsWhatThePackHoldsAndInstallsOnYesOnly) {
    const test::TempDir dir;
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("home"))));
    // A voice of one shape and one word; the second pack lacks the word's recording.
    dir.write(QStringLiteral("voice/mallar.txt"), "[namn]\n");
    dir.write(QStringLiteral("voice/text/namn.txt"), "Kalle\nLisa\n");
    dir.write(QStringLiteral("voice/sound/Kalle.wav"), encodeWav({0, 100, 0, -100}, 8000, 1));
    dir.write(QStringLiteral("voice/sound/Lisa.wav"), encodeWav({0, 100, 0, -100}, 8000, 1));
    PackManifest manifest;
    manifest.name = QStringLiteral("Mormor");
    manifest.created = QDate(2026, 1, 2);
    const QString pack = dir.filePath(QStringLiteral("Mormor.brumlis"));
    ASSERT_TRUE(
        writePack(pack, manifest, packContents(dir.filePath(QStringLiteral("voice"))).entries)
            .isEmpty());
    QFile::remove(dir.filePath(QStringLiteral("voice/sound/Lisa.wav")));
    const QString faulty = dir.filePath(QStringLiteral("Farmor.brumlis"));
    manifest.name = QStringLiteral("Farmor");
    manifest.words = 500; // what a manifest says is not what the question tells
    ASSERT_TRUE(
        writePack(faulty, manifest, packContents(dir.filePath(QStringLiteral("voice"))).entries)
            .isEmpty());
    dir.write(QStringLiteral("broken.brumlis"), "not a zip file");
    const QString packs = dir.filePath(QStringLiteral("home/brumlis/packs/"));

    struct Case {
        const char* what;
        QString file;
        QString button;
        QString asked;
        QString told; // the start of what the box tells beneath its question
        std::optional<QString> folder;
        int status;
    };
    const Case cases[] = {
        {"declined", pack, QStringLiteral("Avbryt"),
         QStringLiteral("PackQuestion:Installera rösten \"Mormor\"?"),
         QStringLiteral("2 ord, 2 inspelningar."), std::nullopt, 0},
        {"broken", dir.filePath(QStringLiteral("broken.brumlis")), QStringLiteral("OK"),
         QStringLiteral("PackMessage:broken.brumlis kan inte installeras."),
         QStringLiteral("paketet är trasigt"), std::nullopt, 1},
        {"accepted", pack, QStringLiteral("Installera"),
         QStringLiteral("PackQuestion:Installera rösten \"Mormor\"?"),
         QStringLiteral("2 ord, 2 inspelningar."), packs + QStringLiteral("Mormor"), 0},
        {"faulty, installed anyway", faulty, QStringLiteral("Installera ändå"),
         QStringLiteral("PackQuestion:Installera rösten \"Farmor\"?"),
         QStringLiteral("2 ord, 1 inspelning.\n\nRösten har fel, och allt kan inte sägas:\n"
                        "\"Lisa\" saknar inspelning (sound/Lisa.wav)"),
         packs + QStringLiteral("Farmor"), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QString asked;
        QString told;
        answerNextBox(c.button, &asked, &told);
        const PackOffer offer = offerPack(c.file);
        EXPECT_EQ(asked, c.asked);
        EXPECT_TRUE(told.startsWith(c.told)) << told.toStdString();
        EXPECT_EQ(offer.folder, c.folder);
        EXPECT_EQ(offer.status, c.status);
        if (c.folder)
            EXPECT_TRUE(QFileInfo::exists(*c.folder + QStringLiteral("/text/namn.txt")));
        else
            EXPECT_FALSE(QFileInfo::exists(packs + QStringLiteral("Mormor")));
    }
    qunsetenv("XDG_DATA_HOME");
}

} // namespace
} // namespace brumlis
