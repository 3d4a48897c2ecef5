#include "performance/MidiListTexts.h"

#include <charconv>
#include <cstddef>

namespace performance {

namespace {

QString NameWithOctave(std::string_view name, BYTE note) {
    return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())) +
           QString::number(note / 12 - 1);
}

}  // namespace

MidiRowTexts MakeMidiRowTexts(BYTE note, BYTE velocity, int source) {
    const std::size_t pitchClass = note % 12;
    return {
        QStringLiteral("1"),
        NameWithOctave(kLetterNames[pitchClass], note),
        NameWithOctave(kSolfegeNames[pitchClass], note),
        QString::number(note),
        QString(VelocityBarLength(velocity), QChar(kVelocityGlyph)),
        QString::number(source),
    };
}

int SourceTagOfText(const QString& hiddenCell) {
    // The hidden cell is read through a 10-character buffer: at most 9 characters count.
    const QByteArray text = hiddenCell.left(9).trimmed().toLatin1();
    const char* begin = text.constData();
    if (!text.isEmpty() && *begin == '+') {
        ++begin;
    }
    int value = 0;
    const auto [end, error] = std::from_chars(begin, text.constData() + text.size(), value);
    static_cast<void>(end);
    return error == std::errc{} ? value : 0;
}

QColor SourceColor(int source) {
    const bool known = source >= 1 && source < static_cast<int>(kSourceColors.size());
    return QColor(kSourceColors[known ? static_cast<std::size_t>(source) : 0]);
}

}  // namespace performance
