#pragma once
// Replaces a file in one step: the new content goes to a temporary file
// beside it, and only when every write, the flush to the disk and the close
// succeeded does it take the file's name. Otherwise the old file stays as
// it was and the temporary file is removed. A full disk or a file size
// limit therefore never leaves an empty or cut-short file behind.
#include <string>
#include <string_view>

namespace kestrel {

struct ReplaceOptions {
    int mode = -1;            // the new file's permission bits; -1: the old file's, or 0666 less the umask
    bool keepOwner = false;   // give the new file the old one's owner and group
    bool regularOnly = false; // refuse (NotRegular) when something else than a regular file has the name
};

enum class ReplaceStatus { Replaced, NotRegular, Failed };

struct ReplaceResult {
    ReplaceStatus status = ReplaceStatus::Failed;
    std::string error;  // empty when replaced: "cannot write /x/y: No space left on device"
    explicit operator bool() const { return status == ReplaceStatus::Replaced; }
};

// The name of the temporary files: path + this marker + six characters.
inline constexpr char kReplaceTempMarker[] = ".kestrel-tmp.";

// Two steps, for callers that prepare several files before any of them
// takes its name. The destructor removes a prepared file not committed.
class FileReplacement {
public:
    explicit FileReplacement(std::string path, ReplaceOptions options = {});
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    ReplaceResult Prepare(std::string_view bytes);
    ReplaceResult Commit();
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    ReplaceOptions options_;
    std::string temp_;
};

ReplaceResult ReplaceFile(const std::string& path, std::string_view bytes, ReplaceOptions options = {});

}  // namespace kestrel
