#include "host/bridge_name.h"

#include <gtest/gtest.h>

namespace zorvia::host {
namespace {

TEST(BridgePipeName, FlavourSelectsTheSuffix) {
  struct Case {
    std::uint8_t flavour;
    std::string_view name;
  };
  static constexpr Case kCases[] = {
      {0, "\\\\.\\pipe\\zorvia-bridge-S-1-5-21-1-2-3-1001"},
      {1, "\\\\.\\pipe\\zorvia-bridge-stand-S-1-5-21-1-2-3-1001"},
      {2, "\\\\.\\pipe\\zorvia-bridge-e2e-S-1-5-21-1-2-3-1001"},
      {3, "\\\\.\\pipe\\zorvia-bridge-e2e-S-1-5-21-1-2-3-1001"},
      {255, "\\\\.\\pipe\\zorvia-bridge-e2e-S-1-5-21-1-2-3-1001"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(static_cast<int>(c.flavour));
    EXPECT_EQ(bridge_pipe_name_for(static_cast<BuildFlavour>(c.flavour), "S-1-5-21-1-2-3-1001"), c.name);
  }
}

}  // namespace
}  // namespace zorvia::host
