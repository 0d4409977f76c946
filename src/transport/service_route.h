#pragma once
// The mail service route: every part packed into the upload stream (envelope + file, one
// record per copy) and posted as one upload (request 1); accepted when the reply is the
// stream's size.
#include "transport/http_client.h"
#include "transport/send_route.h"

#include <atomic>
#include <set>
#include <string>
#include <vector>

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
  // Fetches the keys of the message's recipients that were not fetched in this run (request 6,
  // "listkey") into the key rings; *keyed gets every recipient to encrypt for. False with *out
  // set when a recipient has no key (the message waits) or the request failed (the run ends).
  bool FetchKeys(const OutgoingMessage& m, std::vector<std::string>* keyed, RouteOutcome* out, std::string* warnings);
  static std::string KeyAddressOf(std::string_view recipient);

  ServiceRouteSettings settings_;
  RandomSource& random_;
  Crypto& crypto_;
  HttpClient client_;
  std::set<std::string> fetched_;  // recipients (lower case) whose key is here, this run
};

// The content type of an extension ("" when nothing better than octet-stream is known).
std::string ContentTypeOf(std::string_view ext);

}  // namespace px::transport
