#include "NewFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "Context.h"

namespace qxsym::cli {
namespace {

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

[[noreturn]] void Exists() {
  throw CliError(symResFileAlreadyExists, "a file or link of that name exists");
}

// Closes a descriptor when it goes.
struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) close(fd);
  }
};

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

NewFile::NewFile(std::string path) : path_(std::move(path)) {
  struct stat st {};
  if (lstat(path_.c_str(), &st) == 0) Exists();
  std::string folder = FolderOf(path_) + "/.qxsym-XXXXXX";
  if (mkdtemp(folder.data()) == nullptr) {
    throw CliError(symResCannotOpenFile,
                   std::string("cannot make a folder beside it: ") + std::strerror(errno));
  }
  folder_ = folder;
  staging_ = folder_ + "/table";
}

NewFile::~NewFile() {
  unlink(staging_.c_str());
  rmdir(folder_.c_str());
}

void NewFile::Publish() {
  // link() creates the name or fails; it never follows or replaces what is
  // there, and the file appears complete.
  if (link(staging_.c_str(), path_.c_str()) == 0) return;
  if (errno == EEXIST) Exists();
  CopyExclusively();
}

void NewFile::CopyExclusively() {
  bool created = false;
  auto fail = [&](const char* what) {
    const int error = errno;
    if (created) unlink(path_.c_str());  // made by this call, so never someone else's
    throw CliError(symResCannotWriteFile, std::string(what) + ": " + std::strerror(error));
  };
  Fd in{open(staging_.c_str(), O_RDONLY | O_CLOEXEC)};
  if (in.fd < 0) fail("cannot read the download");
  Fd out{open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666)};
  if (out.fd < 0) {
    if (errno == EEXIST) Exists();
    fail("cannot create it");
  }
  created = true;
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const ssize_t n = read(in.fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail("cannot read the download");
    if (n == 0) break;
    if (!WriteAll(out.fd, buffer.data(), static_cast<std::size_t>(n))) fail("cannot write it");
  }
  const int fd = out.fd;
  out.fd = -1;
  if (close(fd) != 0) fail("cannot write it");
}

}  // namespace qxsym::cli
