#include "host/host_error.h"

#include <vector>

#include "host/frame.h"
#include "text/json_text.h"

namespace zorvia::host {

std::string host_error_body(std::string_view message) {
  return text::to_json_text(text::JsonObject{{"error", message}, {"event", "host_error"}});
}

void write_host_error(io::SharedOutput& out, std::string_view message) {
  const std::string body = host_error_body(message);
  if (body.size() > MAX_MESSAGE_LEN) return;  // "сообщение больше 1 МБ": dropped, as every failure here
  std::vector<char> frame;
  append_frame(frame, body);
  (void)out.write_whole(frame);
}

}  // namespace zorvia::host
