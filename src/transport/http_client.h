#pragma once
// The HTTPS client of the mail service, on libcurl with OpenSSL.
//
// One client keeps one connection (reused between requests of one run). TLS always verifies the
// peer and its host name against the trusted roots of the deployment, TLS 1.2 or newer; a
// connect time-out and a low-speed abort keep a hung server from holding a run forever; Abort()
// (from any thread) ends a request within about a second. Redirects are never followed.
//
// Error texts never carry the URL's query (where secrets may travel) nor the password.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace px::transport {

struct HttpSettings {
  std::string caFile;             // PEM file of the trusted roots (required for https)
  long connectTimeoutSec = 30;
  long lowSpeedLimit = 1;         // bytes per second ...
  long lowSpeedTimeSec = 60;      // ... below which, for this long, a request is aborted
  uint64_t maxReplyBytes = 64ull << 20;  // a bigger in-memory reply is refused
};

struct HttpResult {
  long status = 0;        // HTTP status, 0 when no reply came
  int curlCode = 0;       // CURLcode, 0 when the exchange itself worked
  bool aborted = false;   // stopped by Abort() or the progress callback
  std::string body;       // in-memory replies
  std::string error;      // a short, secret-free text; empty on success

  // The exchange worked and the status is 2xx.
  bool Ok() const { return curlCode == 0 && status >= 200 && status < 300 && !aborted; }
  bool Unauthorized() const { return status == 401; }
};

// Progress: bytes sent and to send, bytes received and to receive (totals 0 when unknown).
// Returning false aborts the request.
using HttpProgress = std::function<bool(int64_t sent, int64_t sendTotal, int64_t got, int64_t getTotal)>;

struct FormField {
  std::string name;
  std::string value;
};

class HttpClient {
public:
  explicit HttpClient(HttpSettings settings);
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  void SetBasicAuth(std::string user, std::string password);
  void ClearBasicAuth();
  // The one extra request header ("Content-Encoding: deflate" on the listing requests); empty
  // name removes it.
  void SetExtraHeader(std::string name, std::string value);
  void SetProgress(HttpProgress fn) { progress_ = std::move(fn); }

  // GET into memory. Plain http:// is allowed only when allowPlainHttp is set.
  HttpResult Get(const std::string& url, bool allowPlainHttp = false);
  // GET into a file (created by the caller); the body is not kept in memory.
  HttpResult GetToFile(const std::string& url, int fd);
  // POST of `size` raw bytes read from fd (from its current offset).
  HttpResult PostStream(const std::string& url, int fd, int64_t size);
  // POST of multipart/form-data with plain fields.
  HttpResult PostForm(const std::string& url, const std::vector<FormField>& fields);
  // POST of fields as application/x-www-form-urlencoded (OAuth2 token requests).
  HttpResult PostUrlEncoded(const std::string& url, const std::vector<FormField>& fields);

  // Stops the running request (thread-safe); later requests run again after ResetAbort().
  void Abort() { abort_.store(true); }
  void ResetAbort() { abort_.store(false); }
  bool Aborted() const { return abort_.load(); }

  // The URL with its query left out: what may be shown or logged.
  static std::string LoggableUrl(const std::string& url);

private:
  struct Impl;
  HttpResult perform(const std::string& url, bool allowPlainHttp, int writeFd);
  static int XferInfo(void* self, long long dlTotal, long long dlNow, long long ulTotal, long long ulNow);
  static size_t writeBody(char* data, size_t size, size_t n, void* self);
  static size_t readBody(char* buffer, size_t size, size_t n, void* impl);

  HttpSettings settings_;
  std::unique_ptr<Impl> impl_;
  std::string user_, password_;
  bool auth_ = false;
  std::string headerName_, headerValue_;
  HttpProgress progress_;
  std::atomic<bool> abort_{false};
};

}  // namespace px::transport
