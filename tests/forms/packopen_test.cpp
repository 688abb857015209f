// brumlis FIL.brumlis: the pack among the arguments, the question, and what each answer does.
#include "brumlis/packs/packwriter.h"
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

// Answers the box that opens next with the button captioned `button`, noting its text.
void answerNextBox(const QString& button, QString* text) {
    QTimer::singleShot(0, [button, text] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_TRUE(box);
        *text = box->objectName() + u':' + box->text();
        for (QAbstractButton* b : box->buttons())
            if (b->text() == button)
                b->click();
    });
}

TEST(OfferPack, InstallsOnYesOnly) {
    const test::TempDir dir;
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("home"))));
    dir.write(QStringLiteral("voice/text/namn.txt"), "Kalle\n");
    PackManifest manifest;
    manifest.name = QStringLiteral("Mormor");
    manifest.created = QDate(2026, 1, 2);
    const QString pack = dir.filePath(QStringLiteral("Mormor.brumlis"));
    ASSERT_TRUE(
        writePack(pack, manifest, packContents(dir.filePath(QStringLiteral("voice"))).entries)
            .isEmpty());
    dir.write(QStringLiteral("broken.brumlis"), "not a zip file");
    const QString installed = dir.filePath(QStringLiteral("home/brumlis/packs/Mormor"));

    struct Case {
        const char* what;
        QString file;
        QString button;
        QString asked;
        std::optional<QString> folder;
        int status;
    };
    const Case cases[] = {
        {"declined", pack, QStringLiteral("Avbryt"),
         QStringLiteral("PackQuestion:Installera rösten \"Mormor\"?"), std::nullopt, 0},
        {"broken", dir.filePath(QStringLiteral("broken.brumlis")), QStringLiteral("OK"),
         QStringLiteral("PackMessage:broken.brumlis kan inte installeras."), std::nullopt, 1},
        {"accepted", pack, QStringLiteral("Installera"),
         QStringLiteral("PackQuestion:Installera rösten \"Mormor\"?"), installed, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QString asked;
        answerNextBox(c.button, &asked);
        const PackOffer offer = offerPack(c.file);
        EXPECT_EQ(asked, c.asked);
        EXPECT_EQ(offer.folder, c.folder);
        EXPECT_EQ(offer.status, c.status);
        EXPECT_EQ(QFileInfo::exists(installed + QStringLiteral("/text/namn.txt")), bool(c.folder));
    }
    qunsetenv("XDG_DATA_HOME");
}

} // namespace
} // namespace brumlis
