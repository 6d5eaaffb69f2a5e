#include "app/CaptureSetup.h"

#include "app/PrivacyCapture.h"
#include "capture/ClipController.h"
#include "platform/X11Pasteboard.h"
#include "sync/HistoryService.h"

namespace CaptureSetup {

ClipController &start()
{
    static ClipController &controller = []() -> ClipController & {
        Pasteboard::setGeneral(std::make_unique<X11Pasteboard>());
        ClipController &monitor = ClipController::sharedInstance();
        monitor.setPrivacy(std::make_unique<PrivacyCapture>());
        // Every stored clip may be pushed at once when a user is signed in.
        monitor.setHistoryProcess([] { HistoryService::sharedInstance().process(); });
        return monitor;
    }();
    return controller;
}

} // namespace CaptureSetup
