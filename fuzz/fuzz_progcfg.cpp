// prog.cfg and the number parsers: any file reads, a stored value reads back on its own line, and
// the parsers either give a number or raise their error.
#include <string>

#include "fuzz/FuzzSupport.h"
#include "platform/Errors.h"
#include "sprites/SpriteDefs.h"
#include "support/LogFiles.h"

using namespace zx;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::InitProgramDir();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        (void)ParseFloat(text);
    } catch (const Exception&) {
    }
    try {
        (void)StrToInt(text);
    } catch (const Exception&) {
    }
    (void)EscapeText(text);

    fuzz::WriteFile("KVD\\prog.cfg", data, size);
    for (const char* key : {"caveedit", "PER Name", "GameServer", ""})
        (void)ReadProgCfgDefault(key, "0");
    // The first line of the input is a value to store; every other key must keep its value.
    const std::string value =
        text.substr(0, text.find('\n') == std::string::npos ? text.size() : text.find('\n'));
    const std::string before = ReadProgCfg("caveedit");
    WriteProgCfg("PER Name", value);
    if (ReadProgCfg("caveedit") != before) fuzz::Fail("storing a value changed another key");
    (void)ReadProgCfg("PER Name");
    return 0;
}
