#include "platform/log/DebugOutput.h"

#include <QLoggingCategory>
#include <QString>

// Off unless asked for (QT_LOGGING_RULES="tunestead.debug=true"): a normal run prints nothing.
Q_LOGGING_CATEGORY(lcTunestead, "tunestead.debug", QtInfoMsg)

namespace platform {

void OutputDebugString(std::string_view text) {
    qCDebug(lcTunestead).noquote() << QString::fromUtf8(text.data(), qsizetype(text.size()));
}

}  // namespace platform
