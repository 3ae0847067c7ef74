// The alert subject and contents files as the settings load reads them.
// The input is the file.
//
// Properties: the lines are the file's text broken at CR LF, LF or a lone
// CR, with no empty line for a final break, and no line holds a CR or LF;
// nothing is reported for a readable file; writing the lines back (as a
// save of the E-mail page does) and reading again gives the same lines.
#include <QFile>

#include "notify/alert_text_files.h"
#include "fuzz_support.h"

using namespace kestrel;

namespace {

// The rule written out once more, independently.
std::vector<std::string> Expected(std::string_view text) {
    std::vector<std::string> lines;
    std::string line;
    bool open = false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            lines.push_back(line);
            line.clear();
            open = false;
        } else {
            line.push_back(text[i]);
            open = true;
        }
    }
    if (open) lines.push_back(line);
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::MakeApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const auto scratch = fuzz::ScratchDir();
    const std::string path = (scratch->path() + "/" + QString::fromStdString(ContentsFileName(1))).toStdString();
    {
        QFile f(QString::fromStdString(path));
        FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate), path);
        f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const TextFileRead read = ReadTextLines(path);
    FUZZ_CHECK(read.error.empty() && !read.truncated, read.error);
    FUZZ_CHECK(read.lines == SplitLines(text), "the file reads otherwise than its text splits");
    FUZZ_CHECK(read.lines == Expected(text), "lines differ from the rule");
    for (const std::string& line : read.lines)
        FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos, "a line break inside a line");

    const std::string copy = path + ".copy";
    FUZZ_CHECK(WriteTextLines(copy, read.lines).empty(), "write");
    const TextFileRead again = ReadTextLines(copy);
    FUZZ_CHECK(again.error.empty() && again.lines == read.lines, "lines lost on the way back");
    return 0;
}
