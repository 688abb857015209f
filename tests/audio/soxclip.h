#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace brumlis::test {

/// Writes `frames` frames of a half-scale 440 Hz tone to `path` with sox, in the
/// encoding `encoding` gives as sox options ("-e ms-adpcm", "-b 24", ...).
/// Returns sox's complaint, or an empty string on success.
inline QString soxTone(const QString& path, int rate, int channels, const QString& encoding,
                       long frames) {
    QStringList args = {QStringLiteral("-V1"), QStringLiteral("-r"), QString::number(rate),
                        QStringLiteral("-n"),  QStringLiteral("-c"), QString::number(channels)};
    args += encoding.split(u' ', Qt::SkipEmptyParts);
    args += {path,
             QStringLiteral("synth"),
             QStringLiteral("%1s").arg(frames),
             QStringLiteral("sine"),
             QStringLiteral("440"),
             QStringLiteral("vol"),
             QStringLiteral("0.5")};
    QProcess sox;
    sox.start(QStringLiteral("sox"), args);
    if (!sox.waitForFinished(30000) || sox.exitStatus() != QProcess::NormalExit ||
        sox.exitCode() != 0)
        return QStringLiteral("sox %1: %2")
            .arg(args.join(u' '), QString::fromLocal8Bit(sox.readAllStandardError()));
    return {};
}

} // namespace brumlis::test
