// What the tool prints of a controller's texts and what it sends of the
// user's: control characters escaped in text and JSON, names too long to
// send whole refused, and a file that must be new never written through
// what appears at its name.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "NewFile.h"
#include "Output.h"
#include "Session.h"
#include "ValueCodec.h"

namespace qxsym::cli {
namespace {

TEST(TextSafetyTest, EscapedLeavesTextAndEscapesEveryControl) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"Motor_1 Speed", "Motor_1 Speed"},
      {"a\nb\tc\rd", "a\\x0Ab\\x09c\\x0Dd"},
      {"\x1b[31mred", "\\x1B[31mred"},
      {std::string("nul\0x", 5), "nul\\x00x"},
      {"del\x7f", "del\\x7F"},
      {"back\\slash", "back\\\\slash"},
      // UTF-8 stays, its C1 controls (U+0080 to U+009F) do not.
      {"Temperatur \xc2\xb0"
       "C \xe2\x82\xac \xf0\x9f\x99\x82",
       "Temperatur \xc2\xb0"
       "C \xe2\x82\xac \xf0\x9f\x99\x82"},
      {"csi\xc2\x9b"
       "2J",
       "csi\\xC2\\x9B2J"},
      // 8-bit text: C1 bytes escaped, the rest kept; a cut sequence too.
      {"\x9b"
       "2J caf\xe9",
       "\\x9B2J caf\xe9"},
      {"cut\xe2\x82", "cut\xe2\\x82"},
      {"cut\xc2", "cut\xc2"},
  };
  for (const auto& c : cases) EXPECT_EQ(Escaped(c.in), c.out) << c.in;
  EXPECT_EQ(Escaped("say \"hi\"", "\""), "say \\\"hi\\\"");
}

TEST(TextSafetyTest, JsonHoldsNoRawControlAndKeepsTheText) {
  const std::string text = "a\x1b[2J\n\x7f\xc2\x85\xc2\xa0\xe2\x82\xac";
  const std::string dumped = CompactJson(Json{{"k" + text, text}});
  EXPECT_EQ(dumped.find('\x7f'), std::string::npos) << dumped;
  EXPECT_EQ(dumped.find("\xc2\x85"), std::string::npos) << dumped;
  EXPECT_NE(dumped.find("\xc2\xa0\xe2\x82\xac"), std::string::npos) << dumped;
  for (char c : dumped) EXPECT_GE(static_cast<unsigned char>(c), 0x20) << dumped;
  EXPECT_EQ(Json::parse(dumped), (Json{{"k" + text, text}}));
  EXPECT_EQ(Json::parse(PrettyJson(Json{{"list", {text, 1}}}))["list"][0], text);
}

TEST(TextSafetyTest, TextsLongerThanTheLibrarySendsAreRefused) {
  EXPECT_NO_THROW(CheckSentText(std::string(259, 'a'), "tag name"));
  try {
    CheckSentText(std::string(260, 'a'), "tag name");
    FAIL() << "260 bytes accepted";
  } catch (const CliError& e) {
    EXPECT_EQ(e.code(), symResInvalidParameter);
    EXPECT_NE(std::string(e.what()).find("(260 bytes)"), std::string::npos) << e.what();
  }
}

class NewFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::path(::testing::TempDir()) / "qxsym_new_file";
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Path(const char* name) const { return (dir_ / name).string(); }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  std::size_t Entries() const {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir_), {}));
  }

  std::filesystem::path dir_;
};

TEST_F(NewFileTest, PlacesTheWholeFileAndLeavesNothingElse) {
  const std::string target = Path("table.bin");
  {
    NewFile file(target);
    Write(file.staging(), "table bytes");
    EXPECT_NE(Read(target), "table bytes");
    file.Publish();
  }
  EXPECT_EQ(Read(target), "table bytes");
  EXPECT_EQ(Entries(), 1u);
}

// Whatever exists at the name, before or after the download began, stays
// as it was: nothing is written through a link, nothing replaced.
TEST_F(NewFileTest, NeverWritesThroughOrReplacesWhatIsThere) {
  const std::string target = Path("table.bin"), other = Path("other");
  Write(other, "other");
  ASSERT_EQ(symlink(other.c_str(), target.c_str()), 0);
  EXPECT_THROW(NewFile{target}, CliError);
  ASSERT_EQ(unlink(target.c_str()), 0);
  ASSERT_EQ(symlink(Path("absent").c_str(), target.c_str()), 0);
  EXPECT_THROW(NewFile{target}, CliError);
  ASSERT_EQ(unlink(target.c_str()), 0);

  for (int meanwhile = 0; meanwhile < 3; ++meanwhile) {
    {
      NewFile file(target);
      Write(file.staging(), "table bytes");
      if (meanwhile == 2) {
        Write(target, "made meanwhile");
      } else {
        const std::string to = meanwhile == 0 ? other : Path("absent");
        ASSERT_EQ(symlink(to.c_str(), target.c_str()), 0);
      }
      try {
        file.Publish();
        ADD_FAILURE() << "published over case " << meanwhile;
      } catch (const CliError& e) {
        EXPECT_EQ(e.code(), symResFileAlreadyExists);
      }
    }
    struct stat st {};
    EXPECT_NE(lstat(Path("absent").c_str(), &st), 0);
    EXPECT_EQ(Read(other), "other");
    if (meanwhile == 2) {
      EXPECT_EQ(Read(target), "made meanwhile");
    }
    ASSERT_EQ(unlink(target.c_str()), 0);
    EXPECT_EQ(Entries(), 1u) << "the download folder stayed";
  }
}

}  // namespace
}  // namespace qxsym::cli
