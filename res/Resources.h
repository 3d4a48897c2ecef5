#pragma once

namespace res {

// Registers the images with Qt's resource system. The images live in a static library, whose
// resource initialiser the linker would otherwise drop; call once before using ":/res/...".
void InitResources();

}  // namespace res
