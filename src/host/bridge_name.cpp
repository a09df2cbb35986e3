#include "host/bridge_name.h"

namespace zorvia::host {

std::string_view flavour_suffix(BuildFlavour flavour) {
  switch (static_cast<std::uint8_t>(flavour)) {
    case 0: return "";
    case 1: return "-stand";
    default: return "-e2e";
  }
}

std::string bridge_pipe_name_for(BuildFlavour flavour, std::string_view user_sid) {
  std::string name(kBridgePipeBase);
  name += flavour_suffix(flavour);
  name += '-';
  name += user_sid;
  return name;
}

}  // namespace zorvia::host
