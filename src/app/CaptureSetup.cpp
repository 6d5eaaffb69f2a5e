#include "app/CaptureSetup.h"

#include "app/ClipController.h"
#include "platform/X11Pasteboard.h"

namespace CaptureSetup {

ClipController &start()
{
    static ClipController &controller = [] () -> ClipController & {
        Pasteboard::setGeneral(std::make_unique<X11Pasteboard>());
        return ClipController::sharedInstance();
    }();
    return controller;
}

} // namespace CaptureSetup
