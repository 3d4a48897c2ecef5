#include "res/Resources.h"

#include <QtCore/qglobal.h>

static void InitResourcesOutsideNamespace() {
    Q_INIT_RESOURCE(resources);
}

namespace res {

void InitResources() {
    InitResourcesOutsideNamespace();
}

}  // namespace res
