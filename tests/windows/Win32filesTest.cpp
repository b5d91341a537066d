// Files by their UTF-16 names, and the diagnostic log in the user's local
// application-data folder.
#include <gtest/gtest.h>

#include <io.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "base/Logfile.h"
#include "toolkit/Files.h"
#include "toolkit/Win32text.h"

#include <windows.h>

using namespace tolm;

namespace {

// A fresh folder under the temporary folder, removed with what it holds.
class TempFolder {
public:
    TempFolder() : path_(std::filesystem::temp_directory_path() / ("tolm-test-" + std::to_string(GetCurrentProcessId()))) {
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string Utf8() const { return WideToUtf8(path_.wstring()); }

private:
    std::filesystem::path path_;
};

std::string ReadAll(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);  // libstdc++ opens wide names on Windows
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(Win32Files, AFirmwareFileInAFolderWithAChineseNameOpens) {
    TempFolder temp;
    const std::string folder = temp.Utf8() + "\\韌體更新";
    ASSERT_TRUE(CreateDirectoryW(Utf8ToWide(folder).c_str(), nullptr));
    const std::string file = folder + "\\掃描器.bin";
    {
        std::ofstream out(Utf8ToWide(file).c_str(), std::ios::binary);
        out << "firmware";
    }
    const int fd = OpenRegularFile(file);
    ASSERT_GE(fd, 0) << "cannot open " << file;
    char buffer[16] = {};
    EXPECT_EQ(_read(fd, buffer, sizeof buffer), 8);
    _close(fd);
    EXPECT_EQ(OpenRegularFile(folder), -1) << "a folder is no firmware file";
}

TEST(Win32Files, TheLogGoesToLocalAppDataWithItsLinesUnchanged) {
    TempFolder temp;
    _wputenv_s(L"LOCALAPPDATA", Utf8ToWide(temp.Utf8() + "\\本機").c_str());
    CreateDirectoryW(Utf8ToWide(temp.Utf8() + "\\本機").c_str(), nullptr);
    SetLogPath("");
    const std::string expected = temp.Utf8() + "\\本機\\Tolm Upgrade\\DUMMY.TXT";
    EXPECT_EQ(LogPath(), expected);
    EXPECT_EQ(WriteLogLine("7E 7E 01 10", 11), 0);
    EXPECT_EQ(WriteLogLine("7E 7E 01 70 00 xx", 14), 0);
    EXPECT_EQ(ReadAll(Utf8ToWide(expected)), "7E 7E 01 10\r\n7E 7E 01 70 00\r\n");
    // A folder at the log's name takes no line.
    SetLogPath(temp.Utf8());
    EXPECT_EQ(WriteLogLine("lost", 4), -1);
    SetLogPath("");
}

TEST(Win32Files, NamesReachTheSystemInTheFormThatOpensAnyLength) {
    // Windows opens a name beyond MAX_PATH only in the extended-length form,
    // which takes the name as it is: so the name is made absolute and
    // resolved first. (Wine opens long names either way.)
    wchar_t current[4096];
    const DWORD n = GetCurrentDirectoryW(4096, current);
    std::wstring here(current, n);
    if (here.back() != L'\\') here += L'\\';
    EXPECT_EQ(Utf8ToWidePath("韌體/../fw.bin"), L"\\\\?\\" + here + L"fw.bin");
    EXPECT_EQ(Utf8ToWidePath("C:\\a\\.\\b.bin"), L"\\\\?\\C:\\a\\b.bin");
    EXPECT_EQ(Utf8ToWidePath("\\\\bench\\share\\fw.bin"), L"\\\\?\\UNC\\bench\\share\\fw.bin");
    // Devices and names already in that form stay as they are.
    EXPECT_EQ(Utf8ToWidePath("\\\\.\\COM3"), L"\\\\.\\COM3");
    EXPECT_EQ(Utf8ToWidePath("\\\\?\\C:\\fw.bin"), L"\\\\?\\C:\\fw.bin");

    TempFolder temp;
    std::string folder = temp.Utf8();
    while (folder.size() < 300) {
        folder += "\\a-folder-with-a-long-name";
        ASSERT_TRUE(CreateDirectoryW(Utf8ToWidePath(folder).c_str(), nullptr));
    }
    const std::string file = folder + "\\fw.bin";
    ASSERT_EQ(WriteWholeFile(file, "firmware"), TWholeFileWrite::Written);
    const int fd = OpenRegularFile(file);
    ASSERT_GE(fd, 0) << "cannot open a file at a path of " << file.size() << " characters";
    EXPECT_EQ(OpenFileSize(fd), 8);
    CloseFile(fd);
    EXPECT_TRUE(RegularFileFacts(file).has_value());
}
