// Built as part of the container layer by a test that expects the build to fail at the second
// include: the first shows the layer's own headers are found, the second that video/ is not.
#include "container/avi_container.h"
#include "video/shared_avi_file.h"

using namespace avikit;
