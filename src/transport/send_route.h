#pragma once
// How one outgoing message leaves: the route is chosen per message by RouteOf, and each route
// delivers a whole message or fails it. Whatever the route, an accepted message is stamped by
// the main thread through StampSent (sent_stamp.h), so stamping and bookkeeping are shared.
//
// Adding a route: a MessageRoute implementation, a SendRoute value, a case in RouteOf and
// one in SendWorker::RouteFor (send_thread.cpp).
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace px::transport {

struct OutgoingMessage;
struct SmtpRouteSettings;

enum class SendRoute { Service, Smtp };

// The route of a message: the service for mail to its users, the sender's outgoing (SMTP)
// server for anything else (smtp/smtp_route.h).
SendRoute RouteOf(const OutgoingMessage& message, const SmtpRouteSettings& smtp);

struct RouteOutcome {
  bool accepted = false;  // the far end has the message: stamp it
  int code = 0;           // transfer error code when not accepted
  std::string text;       // what went wrong (never a password or a secret URL)
  // The failure concerns this message alone: it stays pending, its text is shown, and the run
  // goes on with the next message without a run error code.
  bool messageOnly = false;
  std::string notice;     // shown to the user although the message was accepted
  // Recipients (bare addresses) settled by this delivery: taken by the far end, or refused for
  // good. They are recorded in the register, so a message that still waits for others (a
  // mailbox that was busy) is later sent only to those.
  std::vector<std::string> acceptedFor, refusedFor;
};

class MessageRoute {
public:
  virtual ~MessageRoute() = default;
  // Bytes handled so far of the message's estimate; returning false stops the delivery.
  using Progress = std::function<bool(uint64_t done)>;
  virtual RouteOutcome Deliver(const OutgoingMessage& message, const Progress& progress) = 0;
  // Stops a running delivery (from another thread).
  virtual void Abort() = 0;
};

}  // namespace px::transport
