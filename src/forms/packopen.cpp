#include "packopen.h"

#include "brumlis/packs/packinstaller.h"
#include "brumlis/packs/packreader.h"
#include "brumlis/qtbridge/text.h"
#include "brumlis/sentence/shapes.h"
#include "brumlis/voicecheck/folderreport.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>

namespace brumlis {

namespace {

// A voice's faults shown in the question, before "… och N fel till".
constexpr int ProblemsShown = 5;

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
    // Unpacked aside and looked at as the installer will, so that the question tells what
    // the voice really holds and what is wrong with it, before anyone says yes.
    const QTemporaryDir aside;
    if (!aside.isValid()) {
        tell(QStringLiteral("%1 kan inte installeras.").arg(fileName),
             QStringLiteral("Det går inte att skapa en tillfällig mapp."));
        return {std::nullopt, 1};
    }
    const PackReading reading = unpackPack(packFile, aside.path());
    if (!reading.ok()) {
        tell(QStringLiteral("%1 kan inte installeras.").arg(fileName), reading.error);
        return {std::nullopt, 1};
    }
    const VoiceSummary voice = summarize(inspectFolder(aside.path()));
    PackManifest manifest = reading.manifest;
    manifest.words = voice.words;
    manifest.recordings = voice.recordings;
    const PackPlaces places = PackPlaces::forUser();

    QMessageBox box(QMessageBox::Question, QStringLiteral("Brumlis"),
                    QStringLiteral("Installera rösten \"%1\"?").arg(manifest.name),
                    QMessageBox::NoButton);
    box.setObjectName(QStringLiteral("PackQuestion"));
    box.setTextFormat(Qt::PlainText);
    QString about = packCounts(manifest) + u'.';
    if (!manifest.speaker.isEmpty())
        about = QStringLiteral("Talare: %1. ").arg(manifest.speaker) + about;
    if (!voice.speakable())
        about += QStringLiteral("\n\nRösten har fel, och allt kan inte sägas:\n") +
                 qt(problemsMessage(core(voice.errors), ProblemsShown));
    if (QFileInfo::exists(places.folderOf(manifest.name)))
        about += QStringLiteral("\n\nEn röst med samma namn finns redan och ersätts.");
    box.setInformativeText(about);
    QPushButton* yes = box.addButton(voice.speakable() ? QStringLiteral("Installera")
                                                       : QStringLiteral("Installera ändå"),
                                     QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("Avbryt"), QMessageBox::NoRole);
    // A voice with faults is installed only on purpose: Enter cancels.
    box.setDefaultButton(voice.speakable() ? yes : no);
    box.setEscapeButton(no);
    box.exec();
    if (box.clickedButton() != yes)
        return {std::nullopt, 0};

    InstallOptions options;
    options.replace = true;
    options.anyway = !voice.speakable();
    const PackInstall installed = installPack(packFile, places, options);
    if (!installed.ok()) {
        QString why = installed.error;
        if (installed.refusedAsBroken)
            why += u'\n' + qt(problemsMessage(core(installed.problems), ProblemsShown));
        tell(QStringLiteral("Rösten \"%1\" kunde inte installeras.").arg(manifest.name), why);
        return {std::nullopt, 1};
    }
    return {installed.folder, 0};
}

} // namespace brumlis
