// Writing whole game files on the real file system of the Wine prefix.
#include <gtest/gtest.h>

#include "test_support.h"
#include "update/game_location.h"
#include "update/update_procedure.h"

class WholeFile : public testing::Test {
protected:
    std::string dir;
    void SetUp() override
    {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        dir = std::string(temp) + "updater-files";
        RemoveTree(dir);
        MakeFolders(dir);
    }
    void TearDown() override { RemoveTree(dir); }
    std::string Content(const std::string &path)
    {
        std::string bytes;
        EXPECT_TRUE(ReadBytes(path, &bytes)) << path;
        return bytes;
    }
};

TEST_F(WholeFile, ReplacesALongerFileExactlyAndLeavesNothingBeside)
{
    std::string path = dir + "\\Osadnik Era Przemysłowa.ini";
    ASSERT_TRUE(WriteBytes(path, std::string(3000, 'o')));
    EXPECT_TRUE(WriteWholeFile(path.c_str(), "[Speed]\r\nA\0B", 12));
    EXPECT_EQ(Content(path), std::string("[Speed]\r\nA\0B", 12));
    EXPECT_FALSE(Exists(path + ".tmp"));
}

TEST_F(WholeFile, CreatesAMissingFileInAnExistingFolder)
{
    std::string path = dir + "\\nowy.ini";
    EXPECT_TRUE(WriteWholeFile(path.c_str(), "abc", 3));
    EXPECT_EQ(Content(path), "abc");
}

TEST_F(WholeFile, FailsWithoutCreatingAnythingWhenTheFolderIsMissing)
{
    std::string path = dir + "\\brak\\plik.ini";
    EXPECT_FALSE(WriteWholeFile(path.c_str(), "abc", 3));
    EXPECT_FALSE(Exists(dir + "\\brak"));
}

TEST_F(WholeFile, LeavesAReadOnlyFileAsItWas)
{
    std::string path = dir + "\\tylko.ini";
    ASSERT_TRUE(WriteBytes(path, "stare"));
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(WriteWholeFile(path.c_str(), "nowe dane", 9));
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(Content(path), "stare");
    EXPECT_FALSE(Exists(path + ".tmp"));
}

TEST_F(WholeFile, TakesOverAReplacementLeftBehindByAnInterruptedRun)
{
    std::string path = dir + "\\plik.ini";
    ASSERT_TRUE(WriteBytes(path, "stare"));
    ASSERT_TRUE(WriteBytes(path + ".tmp", std::string(5000, 'p')));
    EXPECT_TRUE(WriteWholeFile(path.c_str(), "nowe", 4));
    EXPECT_EQ(Content(path), "nowe");
    EXPECT_FALSE(Exists(path + ".tmp"));
}

// Drive T: is a small size-limited file system that the test command maps
// into the prefix: a write on it fails for want of space, as on a full disk.
TEST(WholeFileOnFullDisk, KeepsTheOldFileWhenTheDiskFillsUp)
{
    if (GetDriveTypeA("T:\\") == DRIVE_NO_ROOT_DIR)
        GTEST_SKIP() << "no size-limited drive T: in this prefix";
    std::string dir = "T:\\zapis";
    RemoveTree(dir);
    MakeFolders(dir);
    std::string path = dir + "\\Osadnik Era Przemysłowa.ini";
    std::string old = PristineSettlerText();
    ASSERT_TRUE(WriteBytes(path, old));

    ASSERT_TRUE(FillDriveLeaving(dir, 0));

    std::string text(1663, 'n');
    EXPECT_FALSE(WriteWholeFile(path.c_str(), text.data(), text.size()));
    std::string now;
    ASSERT_TRUE(ReadBytes(path, &now));
    EXPECT_EQ(now, old);
    EXPECT_FALSE(Exists(path + ".tmp"));

    DeleteFileA((dir + "\\filler").c_str());
    EXPECT_TRUE(WriteWholeFile(path.c_str(), text.data(), text.size()));
    RemoveTree(dir);
}

TEST(FileLength, IsTheByteCountOrZeroWhenUnreadable)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string dir = std::string(temp) + "updater-length";
    MakeFolders(dir);
    std::string path = dir + "\\Osadnik Era Przemysłowa.ini";
    ASSERT_TRUE(WriteBytes(path, std::string(1654, 's')));
    EXPECT_EQ(ProbeFileLength(path.c_str()), 1654);
    ASSERT_TRUE(WriteBytes(path, ""));
    EXPECT_EQ(ProbeFileLength(path.c_str()), 0);
    EXPECT_EQ(ProbeFileLength((dir + "\\brak.ini").c_str()), 0);
    EXPECT_EQ(ProbeFileLength(dir.c_str()), 0);
    RemoveTree(dir);
}
