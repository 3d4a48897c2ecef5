#include "platform/log/DebugOutput.h"

#include <QLoggingCategory>
#include <QString>

Q_LOGGING_CATEGORY(lcTunestead, "tunestead.debug")

namespace platform {

void OutputDebugString(std::string_view text) {
    qCDebug(lcTunestead).noquote() << QString::fromUtf8(text.data(), qsizetype(text.size()));
}

}  // namespace platform
