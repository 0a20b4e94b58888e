// An executable built without the version resource: exits 0 when the version reader finds
// nothing in it, 1 when it reports a field anyway.
#include "res/VersionInfo.h"

int main() {
    const bool nothing = !QueryVersionString("FileDescription").has_value() &&
                         !QueryVersionString("FileVersion").has_value();
    return nothing ? 0 : 1;
}
