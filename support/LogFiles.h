#pragma once
// The log KVD\LOG.TXT, the keyed configuration files and a few conversions every unit uses.
#include <cstdint>
#include <string>
#include <string_view>

namespace zx {

// Appends one line (CR LF, Windows-1252) and closes the file before returning; safe from any
// thread. Raises EInOutError when the log cannot be written.
void WriteLog(std::string_view line);
// A program that may not write files (the verifier, once locked down) keeps its log in memory
// instead, its last maxBytes; WriteLog then never opens a file. For the whole process.
void KeepLogInMemory(size_t maxBytes);
// What the log in memory holds (empty when the log is a file).
std::string LogInMemory();
// Deletes the log; never fails.
void ClearLog();
// True when there is no log or its last line is exactly "OK".
bool LogEndedOK();

// Keyed text files: lines "key: value", the last line with a matching key counts.
void SetCfgValue(std::string_view file, std::string_view key, std::string_view value);
std::string GetCfgValue(std::string_view file, std::string_view key);
// A keyed file that cannot be created is reported once until this is called: the launcher calls
// it at each activation, so the player hears of it once per activation, not at every lookup.
void ReportCfgFailuresAgain();
void WriteProgCfg(std::string_view key, std::string_view value);
std::string ReadProgCfg(std::string_view key);
std::string ReadProgCfgDefault(std::string_view key, std::string_view def);

// Decimal number with '.' or ','; raises Exception "<text> ist kein gültiger Gleitkommastring".
double ParseFloat(std::string_view text);
// Decimal text of |value| padded with zeros to at least digits, '-' in front when negative.
std::string ZeroPadInt(int64_t value, int digits);
// Text from a file as it may appear in a message: control bytes (a NUL would end the message
// there, a line break would forge a log line) shown as \xNN.
std::string EscapeText(std::string_view text);
// Waits until the tick count has passed start + ms. Sleeps briefly between polls.
void WaitMs(uint32_t ms);

}  // namespace zx
