// Requests that are short, long, unknown or garbled get a status and an
// intact service, never a crash; the service takes arbitrary bytes.
#include <gtest/gtest.h>

#include <random>

#include "SimTestUtil.h"

namespace {

using qxsym::sim::SymbolService;
using simtest::Bytes;
using simtest::Client;
using simtest::RefAt;
using simtest::Req;
using simtest::Status;

class Malformed : public ::testing::Test {
 protected:
  void SetUp() override {
    tag = c.Tag("Grid");
    type = RefAt(c.Call(c.Obj(70, tag)), 4);
    group = RefAt(c.Call(c.Ws(100)), 4);
  }
  // One well-formed request of every command code.
  std::vector<Req> AllRequests() {
    std::vector<Req> r;
    r.push_back(Req(4).U8(0));
    r.push_back(Req(7));
    for (std::uint16_t code : {5, 6, 8, 12, 91, 100}) r.push_back(c.Ws(code));
    r.push_back(c.Ws(9).U32(4));
    r.push_back(c.Ws(10).Text("Grid"));
    r.push_back(c.Ws(110).Field("G*"));
    r.push_back(c.Ws(111).Field("G*"));
    for (std::uint16_t code : {11, 18, 19, 20, 21, 22, 23, 24, 27, 40, 70, 89}) {
      r.push_back(c.Obj(code, tag));
    }
    r.push_back(c.Obj(17, tag).Text("unit"));
    r.push_back(c.Obj(26, tag).U32(0).U32(1).U32(0));
    r.push_back(c.Obj(42, tag).U32(0).U32(1).U32(0));
    r.push_back(c.Obj(41, tag).U16(2).U16(5));
    r.push_back(c.Obj(43, tag).U32(0).U32(1).U32(0).U16(2).U16(5));
    r.push_back(c.Obj(44, tag).U32(0).U32(4));
    r.push_back(c.Obj(45, tag).U32(0).U32(2).U16(5));
    for (std::uint16_t code = 71; code <= 90; ++code) {
      if (code == 83 || code == 85 || code == 87) {
        r.push_back(c.Obj(code, type).U32(0));
      } else if (code == 84) {
        r.push_back(c.Obj(code, type).Text("INT"));
      } else if (code != 89) {
        r.push_back(c.Obj(code, type));
      }
    }
    r.push_back(c.Obj(101, group));
    r.push_back(c.Obj(102, group).Ref(tag));
    r.push_back(c.Obj(103, group).Ref(tag));
    r.push_back(c.Obj(104, group).U32(2));
    r.push_back(c.Obj(105, group).U32(2).U16(1));
    return r;
  }

  SymbolService service{simtest::Demo()};
  Client c{service};
  simtest::SymRef tag, type, group;
};

TEST_F(Malformed, TooShortOrUnknown) {
  Bytes reply{1, 2, 3};
  service.Handle(nullptr, 0, reply);
  EXPECT_EQ(reply, (Bytes{0, 0, symResInvalidParameter, 0}));
  const std::uint8_t one = 7;
  service.Handle(&one, 1, reply);
  EXPECT_EQ(reply, (Bytes{0, 0, symResInvalidParameter, 0}));
  for (std::uint16_t code : {0,  1,   3,   13,  25,  28,    39,    46,    69,    92,
                             99, 106, 109, 112, 999, 65000, 65001, 65002, 65003, 65535}) {
    Bytes r = c.Call(c.Obj(code, tag));
    EXPECT_EQ(r, (Bytes{static_cast<std::uint8_t>(code), static_cast<std::uint8_t>(code >> 8),
                        symResUnkownCommand, 0}))
        << code;
  }
}

TEST_F(Malformed, EveryCommandChecksItsExactSize) {
  for (const Req& req : AllRequests()) {
    const std::uint16_t code = simtest::U16At(req.bytes, 0);
    Bytes shorter(req.bytes.begin(), req.bytes.end() - 1);
    Bytes longer = req.bytes;
    longer.push_back(0);
    for (const Bytes& bad : {shorter, longer}) {
      Bytes r;
      service.Handle(bad.data(), bad.size(), r);
      if (bad.size() < 2) continue;
      EXPECT_EQ(r, (Bytes{static_cast<std::uint8_t>(code), static_cast<std::uint8_t>(code >> 8),
                          symResInvalidParameter, 0}))
          << "code " << code << " size " << bad.size();
    }
  }
  // Nothing was consumed by the refused requests: the tag is still open.
  EXPECT_EQ(Status(c.Call(c.Obj(40, tag))), symResOk);
}

TEST_F(Malformed, TextFieldsAreBounded) {
  auto status = [&](const Bytes& b) {
    Bytes r;
    service.Handle(b.data(), b.size(), r);
    return Status(r);
  };
  Req no_zero = c.Ws(10).U16(4).Raw("Grid", 4);
  EXPECT_EQ(status(no_zero.bytes), symResInvalidParameter);
  EXPECT_EQ(status(c.Ws(10).U16(0).bytes), symResInvalidParameter);
  std::string long_name(300, 'A');
  EXPECT_EQ(status(c.Ws(10).Text(long_name).bytes), symResInvalidParameter);
  std::string max_name(259, 'A');
  EXPECT_EQ(status(c.Ws(10).Text(max_name).bytes), symResSymbolNotFound);
  Req filter = c.Ws(111).U16(261);
  filter.bytes.resize(272, 0);
  EXPECT_EQ(status(filter.bytes), symResInvalidParameter);
  Req unterminated = c.Ws(111).U16(3);
  unterminated.bytes.resize(272, 'x');
  EXPECT_EQ(status(unterminated.bytes), symResInvalidParameter);
  // A length field that disagrees with the bytes that came.
  EXPECT_EQ(status(c.Obj(41, tag).U16(3).U16(5).bytes), symResInvalidParameter);
  EXPECT_EQ(status(c.Obj(45, tag).U32(0).U32(0xFFFFFFFF).U16(5).bytes), symResInvalidParameter);
  EXPECT_EQ(status(c.Obj(105, group).U32(0x7FFFFFFF).bytes), symResInvalidParameter);
}

TEST_F(Malformed, GarbledRequestsNeverBreakTheService) {
  std::mt19937 random(12345);
  const std::vector<Req> seeds = AllRequests();
  for (int i = 0; i < 20000; ++i) {
    Bytes b = seeds[random() % seeds.size()].bytes;
    switch (random() % 4) {
      case 0:
        b.resize(random() % (b.size() + 8));
        break;
      case 1:
        for (int k = 0; k < 3; ++k) b[random() % b.size()] = static_cast<std::uint8_t>(random());
        break;
      case 2:
        // Keep the references, garble the operation's own fields.
        for (std::size_t k = 18; k < b.size(); ++k) b[k] = static_cast<std::uint8_t>(random());
        break;
      default:
        b.insert(b.end(), random() % 64, static_cast<std::uint8_t>(random()));
    }
    Bytes r;
    service.Handle(b.data(), b.size(), r);
    ASSERT_GE(r.size(), 4u);
    if (b.size() >= 2) {
      ASSERT_EQ(simtest::U16At(r, 0), simtest::U16At(b, 0));
    }
  }
  // Still serving.
  EXPECT_EQ(c.Call(Req(7)), (Bytes{7, 0, 0, 0, 3, 0, 1, 0}));
}

}  // namespace
