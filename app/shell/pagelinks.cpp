#include "app/shell/pagelinks.h"

#include "devsettings/qwdevicesettings.h"
#include "liveview/qwliveview.h"

namespace shell {

namespace {

QWidget *openDeviceSettings(qwLiveView *page, const _st_device_item &device)
{
    auto *window = new qwDeviceSettings(page);
    window->setDeviceInfo(device.address, device.port, device.username, device.password);
    QObject::connect(window, &qwDeviceSettings::sigBaseInfoChange, page, &qwLiveView::onCameraBaseinfoChange);
    return window;
}

} // namespace

void linkPages()
{
    qwLiveView::setDeviceSettingsOpener(&openDeviceSettings);
}

} // namespace shell
