// A reply's 16-bit status is handed on as the call's result only when it is
// one of the result codes; any other value makes the reply malformed
// (symResNotOk) instead of becoming a result value that does not exist.
#include <gtest/gtest.h>

#include <memory>

#include "FakeChannel.h"
#include "QXSymClientTag.h"
#include "QXSymClientWorkspaceRemote.h"
#include "SymbolMessages.h"

namespace qxsym {
namespace test {
namespace {

TEST(ReplyStatusTest, StatusesBeyondTheResultCodesAreMalformedReplies) {
  auto channel = std::make_shared<FakeChannel>();
  QXSymClientWorkspaceRemote ws(channel, SymRef{1, 2});
  struct Case {
    std::uint16_t status;
    QXSymResult expected;
  } cases[] = {
      {symResInvalidWorkspace, symResInvalidWorkspace},
      {symResProtocolError, symResProtocolError},  // the last result code
      {symResProtocolError + 1, symResNotOk},
      {63, symResNotOk},
      {62493, symResNotOk},  // the value the fuzzer found
      {0xFFFF, symResNotOk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    channel->Reply(ReplyHeader(kCmdIsValidWorkspace, c.status));
    EXPECT_EQ(ws.IsValid(), c.expected);

    std::uint32_t count = 77;
    channel->Reply(Bytes().U16(kCmdGetGlobalTagsNum).U16(c.status).U32(5));
    EXPECT_EQ(ws.GetGlobalTagsNum(&count), c.expected);
    EXPECT_EQ(count, 77u);

    std::unique_ptr<QXSymClientTag> tag;
    channel->Reply(Bytes().U16(kCmdGetGlobalTag).U16(c.status).U32(3).U32(4));
    EXPECT_EQ(ws.GetGlobalTag("Counter", &tag), c.expected);
    EXPECT_EQ(tag, nullptr);
  }
}

}  // namespace
}  // namespace test
}  // namespace qxsym
