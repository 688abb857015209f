#include "brumlis/packs/manifest.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace brumlis {

namespace {

const QString DateFormat = QStringLiteral("yyyy-MM-dd");

// A count that JSON holds exactly: a whole number, not negative, below 2^53.
std::optional<qint64> count(const QJsonValue& value) {
    if (!value.isDouble())
        return std::nullopt;
    const double d = value.toDouble();
    if (d < 0 || d > 9007199254740992.0 || d != double(qint64(d)))
        return std::nullopt;
    return qint64(d);
}

} // namespace

QByteArray PackManifest::toJson() const {
    const QJsonObject object{
        {QStringLiteral("format"), format},
        {QStringLiteral("name"), name},
        {QStringLiteral("language"), language},
        {QStringLiteral("speaker"), speaker},
        {QStringLiteral("licence"), licence},
        {QStringLiteral("created"), created.toString(DateFormat)},
        {QStringLiteral("words"), words},
        {QStringLiteral("recordings"), recordings},
        {QStringLiteral("madeByVoice"), madeByVoice},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

std::optional<PackManifest> parseManifest(const QByteArray& json, QString* problem) {
    auto fail = [problem](const QString& why) -> std::optional<PackManifest> {
        if (problem)
            *problem = why;
        return std::nullopt;
    };
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        return fail(QStringLiteral("ingen giltig JSON (tecken %1)").arg(error.offset));
    if (!document.isObject())
        return fail(QStringLiteral("inget JSON-objekt"));
    const QJsonObject object = document.object();

    PackManifest manifest;
    const QJsonValue format = object.value(QStringLiteral("format"));
    if (!format.isDouble() || format.toDouble() != PackFormat)
        return fail(format.isUndefined()
                        ? QStringLiteral("\"format\" saknas")
                        : QStringLiteral("okänt format (det här programmet läser format %1)")
                              .arg(PackFormat));
    struct Text {
        const char* key;
        QString* value;
        bool mayBeEmpty;
    };
    // An empty name is told as such below, with the name's other faults.
    const Text texts[] = {{"name", &manifest.name, true},
                          {"language", &manifest.language, false},
                          {"speaker", &manifest.speaker, true},
                          {"licence", &manifest.licence, true}};
    for (const Text& text : texts) {
        const QJsonValue value = object.value(QLatin1String(text.key));
        if (!value.isString() || (!text.mayBeEmpty && value.toString().isEmpty()))
            return fail(QStringLiteral("\"%1\" saknas eller är ingen text").arg(text.key));
        *text.value = value.toString();
    }
    if (const QString wrong = packNameProblem(manifest.name); !wrong.isEmpty())
        return fail(QStringLiteral("namnet %1").arg(wrong));

    manifest.created =
        QDate::fromString(object.value(QStringLiteral("created")).toString(), DateFormat);
    if (!manifest.created.isValid())
        return fail(QStringLiteral("\"created\" är inget datum (ÅÅÅÅ-MM-DD)"));

    struct Count {
        const char* key;
        qint64* value;
    };
    const Count counts[] = {{"words", &manifest.words},
                            {"recordings", &manifest.recordings},
                            {"madeByVoice", &manifest.madeByVoice}};
    // The counts are only what the pack says of itself, and the installer works them out
    // from the files anyway: one that is missing is no fault, one that is not a count is.
    for (const Count& c : counts) {
        const QJsonValue value = object.value(QLatin1String(c.key));
        if (value.isUndefined())
            continue;
        const std::optional<qint64> n = count(value);
        if (!n)
            return fail(QStringLiteral("\"%1\" är inget antal").arg(c.key));
        *c.value = *n;
    }
    if (object.contains(QStringLiteral("recordings")) && manifest.madeByVoice > manifest.recordings)
        return fail(QStringLiteral("\"madeByVoice\" är större än \"recordings\""));
    return manifest;
}

QString packNameProblem(const QString& name) {
    if (name.trimmed().isEmpty())
        return QStringLiteral("är tomt");
    if (name.size() > MaxPackNameLength)
        return QStringLiteral("är längre än %1 tecken").arg(MaxPackNameLength);
    if (name.contains(u'/') || name.contains(u'\\'))
        return QStringLiteral("innehåller / eller \\");
    if (name.contains(QStringLiteral("..")))
        return QStringLiteral("innehåller ..");
    // A leading dot would hide the folder, and is how the installer names its own.
    if (name.startsWith(u'.'))
        return QStringLiteral("börjar med en punkt");
    if (!name.isValidUtf16())
        return QStringLiteral("är ingen giltig text");
    for (const QChar c : name)
        if (c.category() == QChar::Other_Control || c.isNull())
            return QStringLiteral("innehåller styrtecken");
    return {};
}

bool isPackFileName(const QString& path) {
    return path.endsWith(QLatin1String(PackSuffix), Qt::CaseInsensitive);
}

} // namespace brumlis
