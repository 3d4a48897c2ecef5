#pragma once

namespace web {

// Static-control style bits that FitToClient looks at.
constexpr int kStyleCenter = 0x0001;       // SS_CENTER
constexpr int kStyleRight = 0x0002;        // SS_RIGHT
constexpr int kStyleNotify = 0x0100;       // SS_NOTIFY
constexpr int kStyleCenterImage = 0x0200;  // SS_CENTERIMAGE
// Picture types, whose values share the low bits above.
constexpr int kStyleIcon = 0x0003;    // SS_ICON
constexpr int kStyleBitmap = 0x000E;  // SS_BITMAP

struct LinkRect {
    int left, top, right, bottom;
    friend bool operator==(const LinkRect&, const LinkRect&) = default;
};

// The window rectangle shrunk to the client size: vertically centred with
// kStyleCenterImage, else kept at its top; horizontally centred with kStyleCenter, else
// right-aligned with kStyleRight, else kept at its left. Halves round toward zero.
constexpr LinkRect FitRect(LinkRect window, int clientWidth, int clientHeight, int style) {
    LinkRect r = window;
    const int height = window.bottom - window.top;
    const int width = window.right - window.left;
    if (style & kStyleCenterImage) {
        const int half = (height - clientHeight) / 2;
        r.top += half;
        r.bottom -= half;
    } else {
        r.bottom = r.top + clientHeight;
    }
    if (style & kStyleCenter) {
        const int half = (width - clientWidth) / 2;
        r.left += half;
        r.right -= half;
    } else if (style & kStyleRight) {
        r.left = r.right - clientWidth;
    } else {
        r.right = r.left + clientWidth;
    }
    return r;
}

}  // namespace web
