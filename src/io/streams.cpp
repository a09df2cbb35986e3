#include "io/streams.h"

namespace zorvia::io {

ReadExact read_exact(ByteSource& source, std::span<char> into) {
  while (!into.empty()) {
    const auto got = source.read_some(into);
    if (!got) return ReadExact::failed;
    if (*got == 0) return ReadExact::ended;
    into = into.subspan(*got);
  }
  return ReadExact::complete;
}

WriteAll write_all(ByteSink& sink, std::span<const char> bytes) {
  while (!bytes.empty()) {
    const auto put = sink.write_some(bytes);
    if (!put) return WriteAll::failed;
    if (*put == 0) return WriteAll::took_nothing;
    bytes = bytes.subspan(*put);
  }
  return WriteAll::complete;
}

}  // namespace zorvia::io
