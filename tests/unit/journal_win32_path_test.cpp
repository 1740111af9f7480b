// The journal's path on Windows: a file's name goes through; a device or a pipe under a
// file's name is refused before anything is opened, whatever its case, extension or
// folder, since its open alone would take a serial port or wait for a pipe's reader.

#include "journal/win32_journal_path.h"

#include <gtest/gtest.h>

#include <string>

namespace ornat {
namespace {

TEST(Win32JournalPath, FilesNamesGoThrough) {
  for (const char* path : {
           "journal.jsonl",
           "C:\\Users\\eng\\journal.jsonl",
           "C:journal.jsonl",
           "logs/line-3.jsonl",
           "/tmp/ornat/journal.jsonl",  // how Wine sees a Unix path
           "\\\\?\\C:\\very\\long\\path\\journal.jsonl",
           "\\\\.\\C:\\dir\\journal.jsonl",
           "\\\\?\\UNC\\server\\share\\journal.jsonl",
           "\\\\server\\share\\journal.jsonl",
           "COM10",  // only COM0-COM9 are reserved
           "COMPORTS.TXT",
           "console.jsonl",
           "nully.jsonl",
           "LPT",
           "com.jsonl",
           "pipe.jsonl",
           "C:\\pipe\\journal.jsonl",
       }) {
    SCOPED_TRACE(path);
    EXPECT_EQ(Win32JournalPathRefusal(path), "");
  }
}

TEST(Win32JournalPath, DevicesAndPipesAreRefusedWithWhatTheyAre) {
  struct Case {
    const char* path;
    const char* says;
  } cases[] = {
      {"COM3", "the serial port COM3"},
      {"com3", "the serial port COM3"},
      {"COM3:", "the serial port COM3"},
      {"COM3.jsonl", "the serial port COM3"},
      {"logs\\COM7.jsonl", "the serial port COM7"},
      {"C:\\Users\\eng\\com1", "the serial port COM1"},
      {"C:COM2", "the serial port COM2"},
      {"COM0", "the serial port COM0"},
      {"COM\xC2\xB9", "the serial port COM\xC2\xB9"},
      {"\\\\.\\COM12", "the serial port COM12"},
      {"//./COM4", "the serial port COM4"},
      {"NUL", "the device NUL"},
      {"nul.txt", "the device NUL"},
      {"NUL .jsonl", "the device NUL"},
      {"dir/nul", "the device NUL"},
      {"CON", "the device CON"},
      {"CONOUT$", "the device CONOUT$"},
      {"prn", "the device PRN"},
      {"aux.log", "the device AUX"},
      {"LPT1", "the device LPT1"},
      {"\\\\.\\NUL", "the device NUL"},
      {"\\\\.\\PhysicalDrive0", "the device PhysicalDrive0"},
      {"\\\\.\\C:", "the device C:"},
      {"\\\\.\\pipe\\ornat-journal", "a named pipe"},
      {"\\\\.\\PIPE\\x", "a named pipe"},
      {"//./pipe/x", "a named pipe"},
      {"\\\\?\\pipe\\x", "a named pipe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const std::string why = Win32JournalPathRefusal(c.path);
    EXPECT_NE(why.find(c.says), std::string::npos) << why;
    // Every refusal tells what to give instead.
    EXPECT_NE(why.find("give a"), std::string::npos) << why;
  }
}

}  // namespace
}  // namespace ornat
