// Test support: every test runs in a fresh scratch directory with the
// message state zeroed, as in a freshly loaded library.
#ifndef TRANPAK_TESTS_SCRATCH_DIR_H
#define TRANPAK_TESTS_SCRATCH_DIR_H

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace tranpak::test {

class ScratchTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the settings file the library reads.
    static void WriteSettings(const std::string &ini);
    static void RemoveSettings();
    // Settings naming errlog.txt, bitmap.txt and ctrace.txt in the scratch
    // directory, tracing as given, and any further sections; then the
    // definitions; then Init8583.
    static int InitWith(const std::string &definitions, bool trace = false, const std::string &moreSettings = "");

    // Error-log messages written so far, each without its stamp and line end.
    static std::vector<std::string> ErrLog(const std::string &path = "errlog.txt");
    // The last error-log message, or "" when there is none.
    static std::string LastErr();

    std::filesystem::path dir_;

private:
    std::filesystem::path previous_;
};

void WriteFile(const std::filesystem::path &path, const std::string &bytes);
std::string ReadFile(const std::filesystem::path &path);      // bytes as stored
std::string ReadTextFile(const std::filesystem::path &path);  // platform line ends as "\n"
std::string Hex(const void *bytes, size_t count);             // "0A 1B ..."
std::string Unhex(const std::string &hex);                    // "0a1b" or "0A 1B" to bytes

// Sets the worked example's request: 0200 with fields 2 (12345678), 3
// (123) and 4 (10.00), after ResetMesg.
void SetWorkedExample();

// The definitions of the worked example: PAN, PROCCODE, AMOUNT, TERMID,
// ADDDATA and MAC.
extern const char kExampleDefinitions[];

}  // namespace tranpak::test

#endif
