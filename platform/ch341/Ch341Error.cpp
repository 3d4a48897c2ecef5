#include "platform/ch341/Ch341Error.h"

namespace platform::ch341 {

std::string_view ToString(Ch341Error error) {
    switch (error) {
        case Ch341Error::None:
            return "no error";
        case Ch341Error::NotFound:
            return "no such device";
        case Ch341Error::NotOpen:
            return "device not open";
        case Ch341Error::InvalidArgument:
            return "invalid argument";
        case Ch341Error::Access:
            return "access denied";
        case Ch341Error::Busy:
            return "device busy";
        case Ch341Error::DriverBound:
            return "kernel driver bound";
        case Ch341Error::NoDevice:
            return "device vanished";
        case Ch341Error::Timeout:
            return "timeout";
        case Ch341Error::Stall:
            return "endpoint stalled";
        case Ch341Error::ShortTransfer:
            return "short transfer";
        case Ch341Error::Overflow:
            return "overflow";
        case Ch341Error::Unsupported:
            return "not supported";
        case Ch341Error::Io:
            return "I/O error";
    }
    return "unknown error";
}

}  // namespace platform::ch341
