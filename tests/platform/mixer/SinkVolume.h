#pragma once

// The default sink's volume as the PulseAudio server has it, through pactl.

#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

namespace tests::mixer {

inline QString Pactl(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("pactl"), arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The first channel's volume, 0 .. 65536 (100 %); -1 when pactl gives none.
inline int SinkVolume() {
    const QRegularExpressionMatch match = QRegularExpression(QStringLiteral(":\\s*(\\d+)\\s*/"))
                                              .match(Pactl({"get-sink-volume", "@DEFAULT_SINK@"}));
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

inline void SetSinkVolume(int value) {
    Pactl({"set-sink-volume", "@DEFAULT_SINK@", QString::number(value)});
}

}  // namespace tests::mixer
