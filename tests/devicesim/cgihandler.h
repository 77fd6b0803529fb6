#pragma once

#include "device.h"

namespace devicesim {

// The device's CGI API: get and set of stored subjects, import and export
// of the settings blob, PTZ commands and file uploads.
class CgiHandler : public Handler
{
public:
    void handle(Exchange &exchange) override;

private:
    static void get(Exchange &ex);
    static void set(Exchange &ex);
    static void ptz(Exchange &ex);
    static void upload(Exchange &ex);
};

} // namespace devicesim
