// Reading the game folder from the real registry of the test's Wine prefix.
#include <gtest/gtest.h>
#include <string.h>

#include "test_support.h"
#include "update/game_location.h"

class InstallPath : public testing::Test {
protected:
    char dest[256 + 16];
    void SetUp() override
    {
        DeleteGameKey();
        memset(dest, 'Q', sizeof dest);
    }
    void TearDown() override { DeleteGameKey(); }
    bool Untouched()
    {
        for (size_t i = 0; i < sizeof dest; i++)
            if (dest[i] != 'Q')
                return false;
        return true;
    }
    // Nothing is written past the text's terminating NUL within 256 bytes,
    // and nothing at all past the 256 bytes the caller owns.
    void ExpectText(const std::string &text)
    {
        EXPECT_EQ(std::string(dest), text);
        for (size_t i = 256; i < sizeof dest; i++)
            ASSERT_EQ(dest[i], 'Q') << "written past the buffer at " << i;
    }
};

TEST_F(InstallPath, MissingKeyOrValueIsMissing)
{
    EXPECT_EQ(ReadInstallPath(dest), -1);
    EXPECT_TRUE(Untouched());
    ASSERT_TRUE(CreateGameKeyOnly());
    EXPECT_EQ(ReadInstallPath(dest), -1);
    EXPECT_TRUE(Untouched());
}

TEST_F(InstallPath, FolderIsReadAsCp1250)
{
    ASSERT_TRUE(SetInstallPath("C:\\Gry\\Przygoda Średniowiecze"));
    EXPECT_EQ(ReadInstallPath(dest), 1);
    ExpectText("C:\\Gry\\Przygoda \x8C" "redniowiecze");
}

TEST_F(InstallPath, At249CharactersItIsAcceptedAndAt250Refused)
{
    std::string folder249 = "C:\\" + std::string(246, 'a');
    ASSERT_TRUE(SetInstallPath(folder249));
    EXPECT_EQ(ReadInstallPath(dest), 1);
    ExpectText(folder249);

    memset(dest, 'Q', sizeof dest);
    ASSERT_TRUE(SetInstallPath(folder249 + "b"));
    EXPECT_EQ(ReadInstallPath(dest), -1);
    EXPECT_TRUE(Untouched());
}

TEST_F(InstallPath, DataWithoutNulEndsAfterTheBytesReturned)
{
    // REG_BINARY without a terminating NUL: the text is the bytes returned.
    const char bytes[] = { 'C', ':', '\\', 'G', 'r', 'a' };
    ASSERT_TRUE(SetInstallValue(REG_BINARY, bytes, sizeof bytes));
    EXPECT_EQ(ReadInstallPath(dest), 1);
    ExpectText("C:\\Gra");

    // 250 bytes and no NUL would be a 250-character folder: refused.
    std::string full(250, 'z');
    memset(dest, 'Q', sizeof dest);
    ASSERT_TRUE(SetInstallValue(REG_BINARY, full.data(), 250));
    EXPECT_EQ(ReadInstallPath(dest), -1);
    EXPECT_TRUE(Untouched());

    // 249 bytes and no NUL: the longest folder there is.
    memset(dest, 'Q', sizeof dest);
    ASSERT_TRUE(SetInstallValue(REG_BINARY, full.data(), 249));
    EXPECT_EQ(ReadInstallPath(dest), 1);
    ExpectText(full.substr(0, 249));
}

TEST_F(InstallPath, DwordIsTakenAsItsBytesAndEmptyDataAsMissing)
{
    DWORD number = 0x61726747;  // the bytes "Ggra", no NUL
    ASSERT_TRUE(SetInstallValue(REG_DWORD, &number, sizeof number));
    EXPECT_EQ(ReadInstallPath(dest), 1);
    ExpectText(std::string((const char *)&number, 4));

    memset(dest, 'Q', sizeof dest);
    ASSERT_TRUE(SetInstallValue(REG_SZ, "", 1));
    EXPECT_EQ(ReadInstallPath(dest), -1);
    EXPECT_TRUE(Untouched());

    ASSERT_TRUE(SetInstallValue(REG_BINARY, "", 0));
    EXPECT_EQ(ReadInstallPath(dest), -1);
    EXPECT_TRUE(Untouched());
}
