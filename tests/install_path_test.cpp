// Reading the game folder from the real registry of the test's Wine prefix.
#include <gtest/gtest.h>
#include <string.h>

#include "test_support.h"
#include "update/game_location.h"

class InstallPath : public testing::Test {
protected:
    char dest[256 + 256];
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

// The registry value in every form a setup or a stray tool could leave.
// Data is `chars` letters 'a', then `nuls` NULs; the same table holds
// for every value type, since the type is not looked at.
struct RegistryCase {
    int chars;
    int nuls;
    bool accepted;
};
static const RegistryCase REGISTRY_TABLE[] = {
    { 0, 0, false },    { 0, 1, false },     // empty: no entry
    { 1, 0, true },     { 1, 1, true },
    { 248, 0, true },   { 248, 1, true },
    { 248, 2, true },                        // a multi-string's double NUL still fits in 250 bytes
    { 249, 0, true },   { 249, 1, true },    // the longest folder
    { 249, 2, false },                       // 251 bytes with a double NUL: too long
    { 250, 0, false },  { 250, 1, false },   // one character too many
    { 251, 0, false },  { 251, 1, false },
    { 1000, 0, false }, { 1000, 1, false },
};
static const DWORD REGISTRY_TYPES[] = { REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_BINARY, REG_DWORD };

// Leaves a pattern where the next call's locals will be, so that reading
// past the registry data would show as stray bytes in the result.
__attribute__((noinline)) static void DirtyStack()
{
    volatile char junk[16384];
    for (size_t i = 0; i < sizeof junk; i++)
        junk[i] = 'X';
}

TEST_F(InstallPath, EveryTypeAndLengthHasItsDefinedOutcome)
{
    int cases = 0;
    for (DWORD type : REGISTRY_TYPES)
        for (const RegistryCase &c : REGISTRY_TABLE) {
            SCOPED_TRACE(testing::Message() << "type " << type << ", " << c.chars << " chars, "
                                            << c.nuls << " NULs");
            std::string data = std::string(c.chars, 'a') + std::string(c.nuls, '\0');
            ASSERT_TRUE(SetInstallValue(type, data.data(), (DWORD)data.size()));
            memset(dest, 'Q', sizeof dest);
            DirtyStack();
            int result = ReadInstallPath(dest);
            if (c.accepted) {
                EXPECT_EQ(result, 1);
                ExpectText(std::string(c.chars, 'a'));
            } else {
                EXPECT_EQ(result, -1);
                EXPECT_TRUE(Untouched());
            }
            cases++;
        }
    EXPECT_EQ(cases, 80);
}

