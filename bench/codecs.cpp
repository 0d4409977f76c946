// Decoding speed of mail bodies: base64 and quoted-printable, 20 MB each, fed in 64 KB chunks as
// the MIME reader does; line-by-line decoding and the encoders for comparison.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "mailformat/codecs.h"

using namespace px::mailformat;

namespace {

constexpr size_t kBody = 20 * 1024 * 1024;
constexpr size_t kChunk = 64 * 1024;

const std::string& RawBytes() {
  static const std::string bytes = [] {
    std::mt19937 rng(1);
    std::string s(kBody / 4 * 3, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
  }();
  return bytes;
}

// A base64 body of about 20 MB in 76-column CR LF lines.
const std::string& Base64Body() {
  static const std::string body = Base64Lines(RawBytes()) + "\r\n";
  return body;
}

// Quoted-printable text of about 20 MB: mostly plain text with accented letters and soft breaks.
const std::string& QPBody() {
  static const std::string body = [] {
    std::mt19937 rng(2);
    const char* words[] = {"the", "message", "caf\xE9", "na\xEFve", "d=E9j=E0", "quoted", "printable", "a=b"};
    std::string text, out;
    while (out.size() < kBody) {
      text.clear();
      while (text.size() < 200) {
        text += words[rng() % 8];
        text += ' ';
      }
      out += QPEncodeLine(text);
      out += "\r\n";
    }
    return out;
  }();
  return body;
}

template <class Decoder>
void Stream(benchmark::State& state, const std::string& body) {
  for (auto _ : state) {
    Decoder d;
    std::string out;
    out.reserve(body.size());
    for (size_t pos = 0; pos < body.size(); pos += kChunk)
      d.Feed(std::string_view(body).substr(pos, kChunk), out);
    d.Finish(out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}

void BM_Base64DecodeStream(benchmark::State& state) { Stream<Base64Decoder>(state, Base64Body()); }
void BM_QPDecodeStream(benchmark::State& state) { Stream<QPDecoder>(state, QPBody()); }

void BM_Base64DecodeLineByLine(benchmark::State& state) {
  const std::string& body = Base64Body();
  for (auto _ : state) {
    std::string out;
    out.reserve(body.size());
    size_t pos = 0;
    while (pos < body.size()) {
      size_t eol = body.find("\r\n", pos);
      if (eol == std::string::npos) eol = body.size();
      out += Base64DecodeLine(std::string_view(body).substr(pos, eol - pos));
      pos = eol + 2;
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}

void BM_Base64EncodeStream(benchmark::State& state) {
  const std::string& raw = RawBytes();
  for (auto _ : state) {
    Base64Encoder e;
    std::string out;
    for (size_t pos = 0; pos < raw.size(); pos += kChunk) e.Feed(std::string_view(raw).substr(pos, kChunk), out);
    e.Finish(out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * raw.size()));
}

}  // namespace

BENCHMARK(BM_Base64DecodeStream)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Base64DecodeLineByLine)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QPDecodeStream)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Base64EncodeStream)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
