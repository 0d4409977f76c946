#include "transport/http_client.h"

#include <curl/curl.h>
#include <openssl/ssl.h>

#include <cerrno>
#include <mutex>
#include <unistd.h>

namespace px::transport {

namespace {

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Chains longer than root, one intermediate and the leaf are not accepted.
CURLcode LimitVerifyDepth(CURL*, void* sslCtx, void*) {
  SSL_CTX_set_verify_depth(static_cast<SSL_CTX*>(sslCtx), 2);
  return CURLE_OK;
}


}  // namespace

struct HttpClient::Impl {
  CURL* curl = nullptr;
  // Per request.
  std::string* body = nullptr;
  int writeFd = -1;
  bool writeFailed = false;
  bool tooBig = false;
  uint64_t maxReply = 0;
  uint64_t received = 0;
  int readFd = -1;
  int64_t readLeft = 0;
  bool readFailed = false;
  char errorBuffer[CURL_ERROR_SIZE] = {};
};

size_t HttpClient::readBody(char* buffer, size_t size, size_t n, void* user) {
  auto* impl = static_cast<HttpClient::Impl*>(user);
  size_t want = size * n;
  if (static_cast<int64_t>(want) > impl->readLeft) want = static_cast<size_t>(impl->readLeft);
  if (want == 0) return 0;
  for (;;) {
    const ssize_t got = ::read(impl->readFd, buffer, want);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      // The stream is shorter than announced: abort rather than send a cut upload.
      impl->readFailed = true;
      return CURL_READFUNC_ABORT;
    }
    impl->readLeft -= got;
    return static_cast<size_t>(got);
  }
}

HttpClient::HttpClient(HttpSettings settings) : settings_(std::move(settings)), impl_(std::make_unique<Impl>()) {
  GlobalInit();
  impl_->curl = curl_easy_init();
}

HttpClient::~HttpClient() {
  if (impl_->curl) curl_easy_cleanup(impl_->curl);
  // The password leaves memory with the client.
  std::fill(password_.begin(), password_.end(), '\0');
}

void HttpClient::SetBasicAuth(std::string user, std::string password) {
  user_ = std::move(user);
  std::fill(password_.begin(), password_.end(), '\0');
  password_ = std::move(password);
  auth_ = true;
}

void HttpClient::ClearBasicAuth() {
  user_.clear();
  std::fill(password_.begin(), password_.end(), '\0');
  password_.clear();
  auth_ = false;
}

void HttpClient::SetExtraHeader(std::string name, std::string value) {
  headerName_ = std::move(name);
  headerValue_ = std::move(value);
}

std::string HttpClient::LoggableUrl(const std::string& url) {
  const size_t q = url.find('?');
  std::string out = q == std::string::npos ? url : url.substr(0, q);
  // user:password@host forms never come from this program, but never show one either.
  const size_t scheme = out.find("://");
  const size_t at = out.find('@', scheme == std::string::npos ? 0 : scheme + 3);
  const size_t slash = out.find('/', scheme == std::string::npos ? 0 : scheme + 3);
  if (scheme != std::string::npos && at != std::string::npos && (slash == std::string::npos || at < slash))
    out.erase(scheme + 3, at - scheme - 2);
  return out;
}

int HttpClient::XferInfo(void* self, long long dlTotal, long long dlNow, long long ulTotal, long long ulNow) {
  auto* c = static_cast<HttpClient*>(self);
  if (c->abort_.load()) return 1;
  if (c->progress_ && !c->progress_(ulNow, ulTotal, dlNow, dlTotal)) {
    c->abort_.store(true);
    return 1;
  }
  return 0;
}

size_t HttpClient::writeBody(char* data, size_t size, size_t n, void* self) {
  auto* c = static_cast<HttpClient*>(self);
  Impl& impl = *c->impl_;
  const size_t len = size * n;
  impl.received += len;
  if (impl.writeFd >= 0) {
    size_t done = 0;
    while (done < len) {
      const ssize_t w = ::write(impl.writeFd, data + done, len - done);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        impl.writeFailed = true;
        return 0;
      }
      done += static_cast<size_t>(w);
    }
    return len;
  }
  if (impl.received > impl.maxReply) {
    impl.tooBig = true;
    return 0;
  }
  if (impl.body) impl.body->append(data, len);
  return len;
}

HttpResult HttpClient::perform(const std::string& url, bool allowPlainHttp, int writeFd) {
  HttpResult r;
  CURL* h = impl_->curl;
  if (!h) {
    r.curlCode = CURLE_FAILED_INIT;
    r.error = "The network library could not be started.";
    return r;
  }
  Impl& impl = *impl_;
  impl.body = &r.body;
  impl.writeFd = writeFd;
  impl.writeFailed = impl.tooBig = impl.readFailed = false;
  impl.maxReply = settings_.maxReplyBytes;
  impl.received = 0;
  impl.errorBuffer[0] = '\0';

  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, allowPlainHttp ? "http,https" : "https");
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_TCP_NODELAY, 1L);
  curl_easy_setopt(h, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(h, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
  curl_easy_setopt(h, CURLOPT_CAINFO, settings_.caFile.empty() ? "/nonexistent" : settings_.caFile.c_str());
  curl_easy_setopt(h, CURLOPT_CAPATH, nullptr);
  curl_easy_setopt(h, CURLOPT_SSL_CTX_FUNCTION, &LimitVerifyDepth);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, settings_.connectTimeoutSec);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, settings_.lowSpeedLimit);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, settings_.lowSpeedTimeSec);
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, impl.errorBuffer);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &HttpClient::writeBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &HttpClient::XferInfo);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, this);
  if (auth_) {
    curl_easy_setopt(h, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    curl_easy_setopt(h, CURLOPT_USERNAME, user_.c_str());
    curl_easy_setopt(h, CURLOPT_PASSWORD, password_.c_str());
  } else {
    curl_easy_setopt(h, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_NONE));
    curl_easy_setopt(h, CURLOPT_USERNAME, nullptr);
    curl_easy_setopt(h, CURLOPT_PASSWORD, nullptr);
  }
  curl_slist* headers = nullptr;
  if (!headerName_.empty()) headers = curl_slist_append(headers, (headerName_ + ": " + headerValue_).c_str());
  // No "100 Continue" round trip before uploads.
  headers = curl_slist_append(headers, "Expect:");
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);

  const CURLcode rc = abort_.load() ? CURLE_ABORTED_BY_CALLBACK : curl_easy_perform(h);
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, nullptr);
  curl_slist_free_all(headers);
  impl.body = nullptr;
  impl.writeFd = -1;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &r.status);
  r.curlCode = static_cast<int>(rc);
  if (rc == CURLE_ABORTED_BY_CALLBACK) {
    r.aborted = true;
    r.error = "The transfer was stopped.";
  } else if (impl.tooBig) {
    r.error = "The server's reply is too large.";
  } else if (impl.writeFailed) {
    r.error = "Cannot write the received data to disk.";
  } else if (impl.readFailed) {
    r.error = "Cannot read the upload stream.";
  } else if (rc != CURLE_OK) {
    r.error = impl.errorBuffer[0] ? std::string(impl.errorBuffer) : std::string(curl_easy_strerror(rc));
  } else if (r.status < 200 || r.status >= 300) {
    r.error = "HTTP error " + std::to_string(r.status);
  }
  if (rc != CURLE_OK && r.curlCode == 0) r.curlCode = static_cast<int>(rc);
  if ((impl.tooBig || impl.writeFailed || impl.readFailed) && r.curlCode == 0) r.curlCode = CURLE_WRITE_ERROR;
  return r;
}

HttpResult HttpClient::Get(const std::string& url, bool allowPlainHttp) {
  curl_easy_setopt(impl_->curl, CURLOPT_HTTPGET, 1L);
  return perform(url, allowPlainHttp, -1);
}

HttpResult HttpClient::GetToFile(const std::string& url, int fd) {
  curl_easy_setopt(impl_->curl, CURLOPT_HTTPGET, 1L);
  return perform(url, false, fd);
}

HttpResult HttpClient::PostStream(const std::string& url, int fd, int64_t size) {
  CURL* h = impl_->curl;
  impl_->readFd = fd;
  impl_->readLeft = size;
  curl_easy_setopt(h, CURLOPT_POST, 1L);
  curl_easy_setopt(h, CURLOPT_POSTFIELDS, nullptr);
  curl_easy_setopt(h, CURLOPT_READFUNCTION, &HttpClient::readBody);
  curl_easy_setopt(h, CURLOPT_READDATA, impl_.get());
  curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(size));
  HttpResult r = perform(url, false, -1);
  curl_easy_setopt(h, CURLOPT_READFUNCTION, nullptr);
  curl_easy_setopt(h, CURLOPT_READDATA, nullptr);
  impl_->readFd = -1;
  return r;
}

HttpResult HttpClient::PostForm(const std::string& url, const std::vector<FormField>& fields) {
  CURL* h = impl_->curl;
  curl_mime* mime = curl_mime_init(h);
  for (const auto& f : fields) {
    curl_mimepart* part = curl_mime_addpart(mime);
    curl_mime_name(part, f.name.c_str());
    curl_mime_data(part, f.value.data(), f.value.size());
  }
  curl_easy_setopt(h, CURLOPT_MIMEPOST, mime);
  HttpResult r = perform(url, false, -1);
  curl_easy_setopt(h, CURLOPT_MIMEPOST, nullptr);
  curl_mime_free(mime);
  return r;
}

HttpResult HttpClient::PostUrlEncoded(const std::string& url, const std::vector<FormField>& fields) {
  CURL* h = impl_->curl;
  std::string body;
  for (const auto& f : fields) {
    char* k = curl_easy_escape(h, f.name.data(), static_cast<int>(f.name.size()));
    char* v = curl_easy_escape(h, f.value.data(), static_cast<int>(f.value.size()));
    if (!body.empty()) body += '&';
    body += std::string(k ? k : "") + "=" + (v ? v : "");
    curl_free(k);
    curl_free(v);
  }
  curl_easy_setopt(h, CURLOPT_POST, 1L);
  curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(h, CURLOPT_COPYPOSTFIELDS, body.c_str());
  HttpResult r = perform(url, false, -1);
  curl_easy_setopt(h, CURLOPT_POSTFIELDS, nullptr);
  return r;
}

}  // namespace px::transport
