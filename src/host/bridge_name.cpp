#include "host/bridge_name.h"

namespace zorvia::host {

std::string_view flavour_suffix(BuildFlavour flavour) {
  switch (flavour) {
    case BuildFlavour::default_: return "";
    case BuildFlavour::stand: return "-stand";
    case BuildFlavour::e2e: break;
  }
  return "-e2e";  // and so for any value other than the first two
}

std::string bridge_pipe_name_for(BuildFlavour flavour, std::string_view user_sid) {
  std::string name(kBridgePipeBase);
  name += flavour_suffix(flavour);
  name += '-';
  name += user_sid;
  return name;
}

}  // namespace zorvia::host
