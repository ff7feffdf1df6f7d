#include "testsupport/TestSupport.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/Ansi.h"
#include "support/Paths.h"

namespace zx::test {

const std::string& TempProgramDir() {
    static const std::string dir = [] {
        std::string tmpl = (std::filesystem::temp_directory_path() / "zolvex-test-XXXXXX").string();
        if (!mkdtemp(tmpl.data())) std::abort();
        return tmpl;
    }();
    return dir;
}

void ResetProgramDir() {
    namespace fs = std::filesystem;
    for (const auto& e : fs::directory_iterator(TempProgramDir())) fs::remove_all(e.path());
}

std::string ReadText(const std::string& relPath) {
    std::ifstream in(ResolvePath(relPath), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteText(const std::string& relPath, const std::string& bytes) {
    std::ofstream out(ResolvePath(relPath), std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::vector<std::string> LogLines() {
    std::string all = ReadText("KVD\\LOG.TXT");
    std::vector<std::string> lines;
    size_t i = 0;
    while (i < all.size()) {
        size_t j = all.find("\r\n", i);
        if (j == std::string::npos) j = all.size();
        lines.push_back(AnsiToUtf8(all.substr(i, j - i)));
        i = j + 2;
    }
    return lines;
}

std::vector<std::string> GameLogLines() {
    std::vector<std::string> kept;
    bool machine = false;
    for (std::string& l : LogLines()) {
        if (l == "Retreiving system information...") machine = true;
        if (!machine) kept.push_back(std::move(l));
        if (l.rfind("AllocationGranularity:", 0) == 0) machine = false;
    }
    return kept;
}

std::string BuiltProgramDir() { return ZOLVEX_PROGRAM_DIR_BUILD; }

}  // namespace zx::test
