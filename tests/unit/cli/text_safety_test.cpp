// What the tool prints of a controller's texts, and a file that must be new
// never written through what appears at its name (also meanwhile, which
// the end-to-end tests cannot time).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "Context.h"
#include "NewFile.h"
#include "Output.h"

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
