#include "platform/music/ErrorInfo.h"

#include <utility>

namespace platform::music {
namespace {

thread_local std::string t_errorInfo;

}  // namespace

void SetErrorInfo(std::string text) {
    t_errorInfo = std::move(text);
}

std::string TakeErrorInfo() {
    return std::exchange(t_errorInfo, std::string());
}

}  // namespace platform::music
