// The content description and body of outbound gateway items where the end-to-end tests do not
// reach: setting texts that choose no transfer encoding.
#include <gtest/gtest.h>

#include "text/gateway_content.hpp"

namespace talvex {
namespace {

TEST(GatewayContent, OnlyTheExactSettingTextsChooseATransferEncoding) {
  for (const char* none : {"01", "0", "3", " 1", "1 ", ""}) {
    const GatewayContent out = ComposeGatewayContent("Windows-1252", "\u00E9=", "0", none);
    EXPECT_EQ(out.content, "text/plain; charset=\"Windows-1252\"") << none;
    EXPECT_EQ(out.body, "\u00E9=") << none;
  }
}

}  // namespace
}  // namespace talvex
