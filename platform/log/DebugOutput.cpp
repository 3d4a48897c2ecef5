#include "platform/log/DebugOutput.h"

#include <QLoggingCategory>
#include <QString>

// Debug lines of the "tunestead" category are off unless asked for with
// QT_LOGGING_RULES="tunestead.debug=true" (the rule names the category, then the level): a
// normal run prints nothing.
Q_LOGGING_CATEGORY(lcTunestead, "tunestead", QtInfoMsg)

namespace platform {

void OutputDebugString(std::string_view text) {
    qCDebug(lcTunestead).noquote() << QString::fromUtf8(text.data(), qsizetype(text.size()));
}

}  // namespace platform
