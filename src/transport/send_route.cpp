#include "transport/send_route.h"

#include "transport/outgoing.h"

namespace px::transport {

SendRoute RouteOf(const OutgoingMessage&) { return SendRoute::Service; }

}  // namespace px::transport
