// The content description and body encoding of outbound gateway items. Bodies are compared as
// the Windows-1252 bytes that go on the wire.
#include <gtest/gtest.h>

#include "platform/ansi.hpp"
#include "platform/failure.hpp"
#include "text/gateway_content.hpp"

namespace talvex {
namespace {

std::string Charset(const std::string& name) {
  return "text/plain; charset=\"" + name + "\"";
}

TEST(GatewayContent, CharsetFollowsTheSettingOnlyWhenWindows1252IsRequested) {
  struct Case {
    const char* requested;
    const char* contentType;
    const char* charset;
    const char* wire;
  };
  const char* utf8 = "5\xE2\x82\xAC \xC3\xA9";
  const Case cases[] = {{"Windows-1252", "0", "Windows-1252", "5\x80 \xE9"},
                        {"Windows-1252", "1", "iso-8859-1", "5EUR \xE9"},
                        {"Windows-1252", "01", "iso-8859-1", "5EUR \xE9"},
                        {"Windows-1252", "2", "utf-8", utf8},
                        {"Windows-1252", "3", "Windows-1252", "5\x80 \xE9"},
                        {"windows-1252", "1", "utf-8", utf8},
                        {"", "0", "utf-8", utf8},
                        {"utf-8", "word", "utf-8", utf8}};
  for (const Case& c : cases) {
    const GatewayContent out = ComposeGatewayContent(c.requested, "5€ é", c.contentType, "0");
    EXPECT_EQ(out.Content, Charset(c.charset)) << c.requested << " " << c.contentType;
    EXPECT_EQ(ansi::encode(out.Body), c.wire) << c.requested << " " << c.contentType;
  }
  try {
    ComposeGatewayContent("Windows-1252", "x", "word", "0");
    ADD_FAILURE() << "a ContentType that is not a number was accepted";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.Number(), errnum::kTypeMismatch);
  }
}

TEST(GatewayContent, TransferEncodingFollowsTheExactSettingText) {
  const GatewayContent qp = ComposeGatewayContent("Windows-1252", "é=", "2", "1");
  EXPECT_EQ(qp.Content, Charset("utf-8") + "\r\nContent-Transfer-Encoding: quoted-printable");
  EXPECT_EQ(ansi::encode(qp.Body), "=C3=A9=3D");
  EXPECT_EQ(ComposeGatewayContent("Windows-1252", "é€", "0", "1").Body, "=E9=80");

  const GatewayContent b64 = ComposeGatewayContent("Windows-1252", "", "0", "2");
  EXPECT_EQ(b64.Content, Charset("Windows-1252") + "\r\nContent-Transfer-Encoding: base64");
  EXPECT_EQ(b64.Body, "");
  EXPECT_EQ(ComposeGatewayContent("utf-8", "é", "0", "2").Body, "w6k=");

  for (const char* none : {"01", "0", "3", " 1", ""}) {
    const GatewayContent out = ComposeGatewayContent("Windows-1252", "é", "0", none);
    EXPECT_EQ(out.Content, Charset("Windows-1252")) << none;
    EXPECT_EQ(out.Body, "é") << none;
  }
}

TEST(GatewayContent, SubstituteEuro) {
  EXPECT_EQ(SubstituteEuro("Price 5€"), "Price 5EUR");
  EXPECT_EQ(SubstituteEuro("€€."), "EUREUR.");
  EXPECT_EQ(SubstituteEuro("no euro é"), "no euro é");
  EXPECT_EQ(SubstituteEuro(""), "");
}

}  // namespace
}  // namespace talvex
