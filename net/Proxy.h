// The proxy settings of one request, as the settings table holds them (section "PROXY").
// Both HTTP clients are set up from these six texts before every request.
#pragma once

#include <string>

namespace qvu {

// The value of one "PROXY" row of the settings table.
struct ST_ProxyRec {
  std::string value;
};

// `use` selects the route ("HTTP", "SOCKS4", "SOCKS4A", "SOCKS5", compared without regard
// to case; anything else is a direct connection); `auth` "Y" (any case) turns the proxy's
// user name and password on. `port` is a decimal text; anything else counts as 0.
struct ST_Proxy {
  std::string use;
  std::string server;
  std::string port;
  std::string userName;
  std::string password;
  std::string auth;
};

}  // namespace qvu
