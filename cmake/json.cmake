# nlohmann/json is header-only. The MinGW build gets only its include folder:
# /usr/include itself must never reach a MinGW compile line.
find_path(ZORVIA_NLOHMANN_INCLUDE nlohmann/json.hpp
  PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(ZORVIA_NLOHMANN_STAGE "${CMAKE_BINARY_DIR}/third_party/include")
file(MAKE_DIRECTORY "${ZORVIA_NLOHMANN_STAGE}")
file(CREATE_LINK "${ZORVIA_NLOHMANN_INCLUDE}/nlohmann" "${ZORVIA_NLOHMANN_STAGE}/nlohmann" SYMBOLIC)
add_library(zorvia_nlohmann_json INTERFACE)
target_include_directories(zorvia_nlohmann_json SYSTEM INTERFACE "${ZORVIA_NLOHMANN_STAGE}")
