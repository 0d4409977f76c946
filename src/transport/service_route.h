#pragma once
// The mail service route: every part packed into the upload stream (envelope + file, one
// record per copy) and posted as one upload (request 1); accepted when the reply is the
// stream's size.
#include "transport/http_client.h"
#include "transport/send_route.h"

#include <atomic>
#include <string>

namespace px {
class RandomSource;
}

namespace px::transport {

class Crypto;

struct ServiceRouteSettings {
  HttpSettings http;
  std::string host;            // host[:port]
  std::string user;            // service user name
  std::string password;
  std::string ownFromAddress;  // From of parts that have none
  std::string tempFolder;      // private temporary folder, ends in "/"
  bool noTags = false;
};

class ServiceRoute final : public MessageRoute {
public:
  ServiceRoute(ServiceRouteSettings settings, RandomSource& random, Crypto& crypto);
  RouteOutcome Deliver(const OutgoingMessage& message, const Progress& progress) override;
  void Abort() override { client_.Abort(); }
  HttpClient& Client() { return client_; }

private:
  ServiceRouteSettings settings_;
  RandomSource& random_;
  Crypto& crypto_;
  HttpClient client_;
};

// The content type of an extension ("" when nothing better than octet-stream is known).
std::string ContentTypeOf(std::string_view ext);

}  // namespace px::transport
