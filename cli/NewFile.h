// A file that must not exist yet, written in full elsewhere first: in a
// folder of its own (mode 0700) beside the final place, then linked there
// only while nothing at all exists under that name. A symbolic link or a
// file created meanwhile at the final place is never written through or
// replaced.
#pragma once

#include <string>

namespace qxsym::cli {

class NewFile {
 public:
  // Makes the private folder in path's folder. CliError
  // (symResFileAlreadyExists) when something exists at path already,
  // (symResCannotOpenFile) when the folder cannot be made.
  explicit NewFile(std::string path);
  // Removes the private folder and what is left in it.
  ~NewFile();
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  // Where to write the content (does not exist yet).
  const std::string& staging() const { return staging_; }

  // Puts the written file at path without replacing anything. CliError
  // (symResFileAlreadyExists) when something appeared at path meanwhile,
  // (symResCannotWriteFile) when it cannot be placed there.
  void Publish();

 private:
  // The staged file copied to a file created exclusively at path, for file
  // systems without hard links.
  void CopyExclusively();

  std::string path_;
  std::string folder_;
  std::string staging_;
};

}  // namespace qxsym::cli
