#include "packopen.h"

#include "brumlis/packs/packinstaller.h"
#include "brumlis/packs/packreader.h"
#include "brumlis/sentence/swedish.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

namespace brumlis {

namespace {

void tell(const QString& text, const QString& detail) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Brumlis"), text, QMessageBox::Ok);
    box.setObjectName(QStringLiteral("PackMessage"));
    box.setTextFormat(Qt::PlainText);
    box.setInformativeText(detail);
    box.exec();
}

} // namespace

std::optional<QString> takePackFile(QStringList& arguments) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QStringLiteral("--"))
            break;
        if (argument == QStringLiteral("--data") || argument == QStringLiteral("-data")) {
            ++i; // its value is a folder
            continue;
        }
        if (!argument.startsWith(u'-') && isPackFileName(argument) && QFileInfo(argument).isFile())
            return arguments.takeAt(i);
    }
    return std::nullopt;
}

PackOffer offerPack(const QString& packFile) {
    const QString fileName = QFileInfo(packFile).fileName();
    const PackReading reading = readPack(packFile);
    if (!reading.ok()) {
        tell(QStringLiteral("%1 kan inte installeras.").arg(fileName), reading.error);
        return {std::nullopt, 1};
    }
    const PackManifest& manifest = reading.manifest;
    const PackPlaces places = PackPlaces::forUser();

    QMessageBox box(QMessageBox::Question, QStringLiteral("Brumlis"),
                    QStringLiteral("Installera rösten \"%1\"?").arg(manifest.name),
                    QMessageBox::NoButton);
    box.setObjectName(QStringLiteral("PackQuestion"));
    box.setTextFormat(Qt::PlainText);
    QString about = QStringLiteral("%1, %2.").arg(
        swedishCount(manifest.words, QStringLiteral("ord"), QStringLiteral("ord")),
        swedishCount(manifest.recordings, QStringLiteral("inspelning"),
                     QStringLiteral("inspelningar")));
    if (!manifest.speaker.isEmpty())
        about = QStringLiteral("Talare: %1. ").arg(manifest.speaker) + about;
    if (QFileInfo::exists(places.folderOf(manifest.name)))
        about += QStringLiteral("\nEn röst med samma namn finns redan och ersätts.");
    box.setInformativeText(about);
    QPushButton* yes = box.addButton(QStringLiteral("Installera"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("Avbryt"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    box.exec();
    if (box.clickedButton() != yes)
        return {std::nullopt, 0};

    const PackInstall installed = installPack(packFile, places, true);
    if (!installed.ok()) {
        tell(QStringLiteral("Rösten \"%1\" kunde inte installeras.").arg(manifest.name),
             installed.error);
        return {std::nullopt, 1};
    }
    return {installed.folder, 0};
}

} // namespace brumlis
