#pragma once

#include <memory>

#include "device.h"

namespace devicesim {

// "/action/stream" carries both the live streams and two-way audio; the
// subject decides which endpoint takes the connection.
class StreamRouter : public Handler
{
public:
    StreamRouter(std::shared_ptr<Handler> live, std::shared_ptr<Handler> talk)
        : m_live(std::move(live)), m_talk(std::move(talk))
    {}
    void handle(Exchange &exchange) override;
    void shutdown() override;

private:
    std::shared_ptr<Handler> m_live;
    std::shared_ptr<Handler> m_talk;
};

} // namespace devicesim
