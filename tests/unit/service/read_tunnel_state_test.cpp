#include <gtest/gtest.h>
#include "service/service_client.h"

namespace {

struct Case {
  const char* body;
  TunnelState expected;
};

TEST(ReadTunnelState, NumericZeroAloneMeansClosed) {
  const Case cases[] = {
      {"{\"status\":0}", TunnelState::Closed},
      {"{\"status\":0.0}", TunnelState::Closed},
      {"{\"status\":-0.0}", TunnelState::Closed},
      {"{\"status\":0e5, \"other\":[1,2]}", TunnelState::Closed},
      {" \r\n{\"status\":0}\n", TunnelState::Closed},
      {"{\"status\":1}", TunnelState::Open},
      {"{\"status\":-1}", TunnelState::Open},
      {"{\"status\":0.5}", TunnelState::Open},
      {"{\"status\":\"0\"}", TunnelState::Open},
      {"{\"status\":false}", TunnelState::Open},
      {"{\"status\":null}", TunnelState::Open},
      {"{\"status\":[0]}", TunnelState::Open},
      {"{\"status\":{}}", TunnelState::Open},
      {"{\"Status\":0}", TunnelState::Open},
      {"{}", TunnelState::Open},
      {"null", TunnelState::Open},
  };
  for (const Case& c : cases) EXPECT_EQ(ReadTunnelState(c.body), c.expected) << c.body;
}

TEST(ReadTunnelState, AnythingButAnObjectOrNullIsUnreadable) {
  const char* bodies[] = {
      "[0]", "[{\"status\":0}]", "\"0\"", "0", "false", "true",
      "", "{", "{\"status\":0", "{\"status\":0} trailing", "{\"status\":0}{}",
      "{'status':0}", "{\"status\":0 /* closed */}", "\xEF\xBB", "{\"status\":\"\xFF\"}",
  };
  for (const char* body : bodies) EXPECT_EQ(ReadTunnelState(body), TunnelState::Unreadable) << body;
  EXPECT_EQ(ReadTunnelState(nullptr), TunnelState::Unreadable);
}

}  // namespace
