#pragma once
// The CSV file of a recording: created exclusively (or, when asked, taken over) and locked for
// as long as the recording writes it, so two recordings never share a file. Appends are whole:
// text that reached the file only in part is cut off again, so the file never ends in a torn
// line. Every failure keeps its reason, named with the file.

#include <cstdint>
#include <string>
#include <string_view>

namespace quillbox::recording {

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates `path`. Without `replace` a file of that name must not exist; with it an existing
  // one is taken over (emptied only by Truncate). False when it exists, cannot be created, or
  // another process holds it.
  bool Open(const std::string& path, bool replace);
  // Writes to the process's standard output instead (not locked, never emptied).
  void OpenStandardOutput();
  // Empties the file (a taken-over file keeps its old content until the recording starts).
  bool Truncate();
  bool Append(std::string_view text);
  // Makes what was appended durable.
  bool Sync();
  // Removes the file when this object created it (a start that failed).
  void RemoveIfCreated();

  const std::string& Path() const { return path_; }
  // Bytes of whole lines written since the file was emptied.
  uint64_t Bytes() const { return static_cast<uint64_t>(size_); }
  // False for a terminal, a pipe or a device: such an output gets no description beside it.
  bool Regular() const { return regular_; }
  // "cannot write FILE: reason" for the last failure.
  const std::string& Error() const { return error_; }

 private:
  bool Fail(const std::string& what, int error);

  int fd_ = -1;
  bool standardOutput_ = false;
  bool created_ = false;
  bool regular_ = true;
  long long size_ = 0;  // bytes of whole lines in the file
  std::string path_;
  std::string error_;
};

// Writes `text` to `path` through a temporary file in the same folder and a rename, so that a
// reader sees the old or the new content, never a part. False with `error` set otherwise.
bool ReplaceFileAtomically(const std::string& path, const std::string& text, std::string& error);

// Whether ReplaceFileAtomically could write `path`: makes a file under its temporary name and
// removes it again (a name too long, a folder that cannot be written fail here). False with
// `error` set otherwise.
bool CanReplaceAtomically(const std::string& path, std::string& error);

// The folder of `path` ("." for a bare file name).
std::string FolderOf(const std::string& path);

// Error text of errno value `error`.
std::string ErrorText(int error);

}  // namespace quillbox::recording
